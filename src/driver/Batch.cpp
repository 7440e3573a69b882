#include "driver/Batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "driver/Console.h"
#include "driver/ItemRecords.h"
#include "driver/Progress.h"
#include "driver/Workers.h"
#include "fs/AllowedCpuCount.h"
#include "fs/Error.h"
#include "fs/FileSystem.h"

namespace {

// The program's decision on a file for an update run; a file it cannot decide on is converted,
// and the conversion reports why. What is not the file's fault (out of memory) goes on to the caller.
Freshness freshness(const Program& program, const RunOptions& run, const WorkItem& item) {
    if (!program.freshness) return {};
    try {
        return program.freshness(item, run);
    } catch (const Error&) {
        return {};
    }
}

// What a path holds, to tell the outputs a conversion wrote: a file written in place of another is a new one.
struct FileState {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    explicit FileState(const std::string& path) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return;
        exists = true;
        device = st.st_dev, inode = st.st_ino, size = st.st_size, modified = modifiedOf(st);
    }
    bool differs(const FileState& before) const {
        return exists && (!before.exists || device != before.device || inode != before.inode || size != before.size ||
                          modified.tv_sec != before.modified.tv_sec || modified.tv_nsec != before.modified.tv_nsec);
    }
};

Processed decide(const Program& program, const RunOptions& run, const WorkItem& item) {
    try {
        if (run.update) {
            const Freshness decision = freshness(program, run, item);
            if (decision.state == Freshness::current) return Processed::current;
            if (decision.state == Freshness::passed) {
                if (!decision.subject.empty()) run.console.printDiagnostic(decision.subject, decision.text);
                return Processed::done;
            }
        }
        program.convert(item, run);
        return Processed::done;
    } catch (...) {
        run.console.printFailure(item.name, item.path, reasonOf(std::current_exception()));
        return Processed::failed;
    }
}

}  // namespace

Processed processFile(const Program& program, const RunOptions& run, const WorkItem& item) {
    ItemRecords* records = run.console.records;
    if (!records) return decide(program, run, item);
    std::vector<std::string> outputs;
    std::vector<FileState> before;
    try {
        outputs = program.outputs(item, run);
        for (const std::string& output : outputs) before.emplace_back(output);
    } catch (...) {
        outputs.clear();  // not known: none is told written
        before.clear();
    }
    records->open(item.path);
    const Processed result = decide(program, run, item);
    std::vector<std::string> written;
    for (std::size_t i = 0; i < outputs.size(); ++i)
        if (FileState(outputs[i]).differs(before[i])) written.push_back(outputs[i]);
    records->close(result == Processed::failed    ? "failed"
                   : result == Processed::current ? "up to date"
                   : written.empty()              ? "passed over"
                                                  : "written",
                   written);
    return result;
}

int processInOrder(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, Progress& progress,
                   std::size_t& current) {
    int status = 0;
    for (const WorkItem& item : items) {
        const Processed result = processFile(program, run, item);
        if (result == Processed::failed) status = std::max(status, 1);
        if (result == Processed::current) ++current;
        progress.advance();
    }
    return status;
}

int runBatch(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int status) {
    if (items.empty() && run.operands.empty()) {
        std::printf("No *.iff files in current directory!\n");
        return 2;
    }
    // an update run converts, and hands to workers, only the items it does not find current
    std::vector<WorkItem> chosen;
    const std::vector<WorkItem>* todo = &items;
    std::size_t current = 0;
    // with records, each file's decision is made as it comes, so that they are in the items' order
    if (run.update && !run.console.records) {
        for (const WorkItem& item : items) {
            Freshness decision;
            try {
                decision = freshness(program, run, item);
            } catch (...) {
                // the item's own run decides again, and reports the failure in its place
            }
            if (decision.state == Freshness::current) ++current;
            if (decision.state == Freshness::current || (decision.state == Freshness::passed && decision.subject.empty())) continue;
            chosen.push_back(item);
        }
        todo = &chosen;
    }
    const std::vector<WorkItem>& work = *todo;
    // without -j, even one CPU gets a worker: a crash then costs its file, not the run
    const long jobs = std::min<long>(run.jobs ? run.jobs : allowedCpuCount(), static_cast<long>(work.size()));
    {
        const Progress::Show show = !run.progress ? Progress::Show::never : run.console.quiet ? Progress::Show::always : Progress::Show::outputElsewhere;
        Progress progress(work.size(), program.name, show);
        if (jobs > 1 || (jobs == 1 && !run.jobs)) {
            status = std::max(status, runWorkers(program, run, work, static_cast<int>(jobs), progress, current));
        } else {
            status = std::max(status, processInOrder(program, run, work, progress, current));
        }
    }
    if (current) std::fprintf(stderr, "%s: %zu %s up to date\n", program.name, current, current == 1 ? "file" : "files");
    // lines that could not be written are a failure too, as with any tool whose output is read
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: standard output: %s\n", program.name, std::strerror(errno ? errno : EIO));
        status = std::max(status, 1);
    }
    return status;
}
