#include "driver/Workers.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>
#include <set>

#include "driver/Batch.h"
#include "driver/Console.h"
#include "driver/Interrupts.h"
#include "driver/Messages.h"
#include "fs/InterruptGuard.h"
#include "fs/TempFile.h"
#include "fs/WriteAll.h"

namespace {

// Files of quick conversions are handed to a worker ahead of time, so that it never waits for the
// parent between two of them; a slow one is handed out alone, so that the end of the batch stays
// balanced between the workers.
constexpr std::size_t depth = 32;
constexpr auto quick = std::chrono::milliseconds(2);
// while every worker has files in hand, the parent collects their results this often, not one by one
constexpr auto pause = std::chrono::milliseconds(1);
// a lone worker has no other to stay balanced with, so it may hold many files
constexpr std::size_t loneDepth = 256;
// on one CPU each wake of the parent takes the worker's time: it collects seldom while the worker holds many
constexpr auto lonePause = std::chrono::milliseconds(3);

// What a file has produced so far: its lines, as messages, and whether it is done.
struct FileResult {
    std::string messages;
    bool done = false;
    bool failed = false;
    bool current = false;  // found up to date
    bool spoke = false;    // a worker sent a line of it, so it was started
    bool retried = false;  // handed to a second worker after the first died before a line of it
};

struct Worker {
    pid_t pid = -1;
    int fd = -1;
    std::deque<std::size_t> files;  // handed out and not done yet, the first one in conversion
    std::string input;              // bytes received that do not yet make a whole message
    std::uint64_t received = 0;     // bytes of its stream received
    LineMirror* mirror = nullptr;   // what it has not sent, shared with it (see Messages.h)
    bool finished = false;          // told that no file is left
    bool quick = false;             // its last file took less than `quick`
    std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();  // of its last result
};

// Waits for a worker that has ended or is about to, and forgets it; returns its wait status.
int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    removeWorker(pid);
    return status;
}

[[noreturn]] void workerLoop(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int fd,
                            LineMirror* mirror) {
    sendConsoleTo(fd, mirror);
    // the parent sends several indices at a time; one read takes all that have come
    std::uint32_t indices[64];
    std::size_t have = 0, at = 0;
    while (true) {
        if (at == have) {
            flushToParent();
            const ssize_t n = ::read(fd, indices, sizeof indices);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            const std::size_t bytes = static_cast<std::size_t>(n);
            // an index split between two reads is completed at once
            const std::size_t rest = (sizeof indices[0] - bytes % sizeof indices[0]) % sizeof indices[0];
            if (rest && !readAll(fd, reinterpret_cast<char*>(indices) + bytes, rest)) break;
            have = (bytes + rest) / sizeof indices[0];
            at = 0;
        }
        const std::uint32_t index = indices[at++];
        if (index >= items.size()) break;
        const Processed result = processFile(program, run, items[index]);
        sendMessage('D', result == Processed::failed ? "0" : result == Processed::current ? "u" : "1");
    }
    flushToParent();
    // nothing buffered in stdio is the worker's to flush: the parent owns the console
    ::_exit(0);
}

class Pool {
public:
    Pool(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int jobs, Progress& progress)
        : program(program), options(run), items(items), progress(progress), results(items.size()), lone(jobs == 1), cap(4 * jobs) {
        // buffered lines would otherwise be printed once more by every worker
        std::fflush(stdout);
        std::fflush(stderr);
        for (int i = 0; i < jobs; ++i) start();
    }

    int run(std::size_t& current) {
        while (printed < items.size()) {
            if (workers.empty()) break;
            waitForMessages();
        }
        // every file is answered; the workers, told that nothing is left, are waited for, so that
        // none outlives the program and their time counts as its own
        for (Worker& worker : workers) {
            ::shutdown(worker.fd, SHUT_WR);
            ::close(worker.fd);
            reap(worker.pid);
            ::munmap(worker.mirror, sizeof(LineMirror));
        }
        workers.clear();
        // no worker is left to do the rest: the replacements ran out or could not be started
        for (; printed < items.size(); ++printed) {
            FileResult& result = results[printed];
            printMessages(result.messages);
            if (!result.done) {
                const Processed processed = processFile(program, options, items[printed]);
                result.failed = processed == Processed::failed;
                result.current = processed == Processed::current;
            }
            progress.advance();
        }
        bool failed = false;
        for (const FileResult& result : results) {
            failed |= result.failed;
            current += result.current;
        }
        return failed ? 1 : 0;
    }

private:
    void start() {
        void* shared = ::mmap(nullptr, sizeof(LineMirror), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) return;
        LineMirror* mirror = static_cast<LineMirror*>(shared);
        mirror->base = 0;
        mirror->length = 0;
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
            ::munmap(shared, sizeof(LineMirror));
            return;
        }
        // the new worker must not inherit a half-recorded worker list
        InterruptGuard guard;
        const pid_t pid = ::fork();
        if (pid < 0) {
            ::close(pair[0]);
            ::close(pair[1]);
            ::munmap(shared, sizeof(LineMirror));
            return;
        }
        if (pid == 0) {
            forgetInheritedState();
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            // the parent may have gone before the death signal was asked for
            if (::getppid() == 1) ::_exit(1);
            ::close(pair[0]);
            for (const Worker& other : workers) ::close(other.fd);
            workerLoop(program, options, items, pair[1], mirror);
        }
        ::close(pair[1]);
        addWorker(pid);
        workers.emplace_back();
        workers.back().pid = pid;
        workers.back().fd = pair[0];
        workers.back().mirror = mirror;
        feed(workers.back());
    }

    // Keeps the worker up to `depth` files ahead (`loneDepth` if it is the only one), topped up in
    // one message once half of them are spent, files taken back from a dead worker first; tells it
    // to finish when none is left.
    void feed(Worker& worker) {
        const std::size_t limit = lone ? loneDepth : worker.quick ? depth : 1;
        if (worker.finished || worker.files.size() > limit / 2) return;
        std::vector<std::uint32_t> indices;
        while (worker.files.size() + indices.size() < limit && (!retry.empty() || next < items.size())) {
            if (retry.empty()) {
                indices.push_back(static_cast<std::uint32_t>(next++));
            } else {
                indices.push_back(static_cast<std::uint32_t>(*retry.begin()));
                retry.erase(retry.begin());
            }
        }
        if (sendAll(worker.fd, indices.data(), indices.size() * sizeof indices[0]) != 0) {
            // its end is noticed on reading; the files go to another worker
            retry.insert(indices.begin(), indices.end());
            return;
        }
        worker.files.insert(worker.files.end(), indices.begin(), indices.end());
        if (retry.empty() && next == items.size()) {
            ::shutdown(worker.fd, SHUT_WR);
            worker.finished = true;
        }
    }

    void waitForMessages() {
        bool busy = true, deep = true;
        for (const Worker& worker : workers) {
            busy = busy && worker.files.size() > 1;
            deep = deep && worker.files.size() > depth;
        }
        // near the end the short pause keeps the wait for the last results short
        if (busy) std::this_thread::sleep_for(lone && deep ? lonePause : pause);
        std::vector<pollfd> fds;
        for (const Worker& worker : workers) fds.push_back({worker.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) return;
        for (std::size_t i = fds.size(); i-- > 0;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[1 << 14];
            const ssize_t n = ::read(workers[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                workers[i].input.append(buffer, static_cast<std::size_t>(n));
                workers[i].received += static_cast<std::uint64_t>(n);
                takeMessages(workers[i]);
            } else {
                ended(i);
            }
        }
        flushInOrder();
    }

    void takeMessages(Worker& worker) {
        std::string& input = worker.input;
        std::size_t at = 0;
        // a worker speaks only while it converts a file
        for (std::size_t start = at; !worker.files.empty(); start = at) {
            char kind;
            std::string_view text;
            if (!takeMessage(input, at, kind, text)) break;
            FileResult& result = results[worker.files.front()];
            if (kind == 'D') {
                result.done = true;
                result.failed = text == "0";
                result.current = text == "u";
                worker.files.pop_front();
                const auto now = std::chrono::steady_clock::now();
                worker.quick = now - worker.since < quick;
                worker.since = now;
                feed(worker);
            } else {
                result.messages.append(input, start, at - start);
                result.spoke = true;
            }
        }
        input.erase(0, at);
    }

    // A worker's connection closed: it finished, or it died in the middle of a file.
    void ended(std::size_t i) {
        Worker worker = std::move(workers[i]);
        workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(i));
        ::close(worker.fd);
        const int status = reap(worker.pid);
        // what it wrote and had not sent: the files it finished, and the lines of the one it died on
        const LineMirror& mirror = *worker.mirror;
        if (mirror.base <= worker.received && mirror.base + mirror.length > worker.received) {
            worker.input.append(mirror.bytes + (worker.received - mirror.base), mirror.bytes + mirror.length);
            worker.finished = true;  // nothing more is handed to it
            takeMessages(worker);
        }
        ::munmap(worker.mirror, sizeof(LineMirror));
        if (worker.files.empty()) return;

        // a worker writes beside the outputs of the file it converts, and only there
        removeTemporaryFiles(items[worker.files.front()].folder, program.name, worker.pid);
        // the files it had not started go to the next worker that asks
        const std::size_t file = worker.files.front();
        retry.insert(worker.files.begin() + 1, worker.files.end());
        FileResult& result = results[file];
        // a worker that died between two files did not start this one; one that dies on it twice did
        if (!result.spoke && !result.retried) {
            result.retried = true;
            retry.insert(file);
            replace();
            return;
        }
        const std::string reason = WIFSIGNALED(status) ? "conversion crashed (signal " + std::to_string(WTERMSIG(status)) + ")"
                                                       : "conversion ended early (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
        result.messages += frameMessage('O', options.console.failureLine(items[file].name)) +
                           frameMessage('E', options.console.diagnosticLine(items[file].path, reason));
        result.done = true;
        result.failed = true;
        replace();
    }

    void replace() {
        if (cap <= 0) return;
        --cap;
        start();
    }

    // Prints what the files in order have produced, up to the first one still being converted.
    void flushInOrder() {
        std::string ready;
        std::size_t finished = 0;
        while (printed < items.size()) {
            FileResult& result = results[printed];
            ready += result.messages;
            result.messages.clear();
            if (!result.done) break;
            ++printed;
            ++finished;
        }
        printMessages(ready);
        progress.advance(finished);
    }

    const Program& program;
    const RunOptions& options;
    const std::vector<WorkItem>& items;
    Progress& progress;
    std::vector<FileResult> results;
    std::vector<Worker> workers;
    std::size_t next = 0;        // the first file not yet handed out
    std::set<std::size_t> retry;  // files handed to a worker that died before it started them
    std::size_t printed = 0;  // the first file whose lines are not all printed
    bool lone;                // one worker at a time
    int cap;                  // replacements still allowed
};

}  // namespace

int runWorkers(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int jobs,
               Progress& progress, std::size_t& current) {
    return Pool(program, run, items, jobs, progress).run(current);
}
