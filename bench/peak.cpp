// Peak memory of every process of a command: peak REPORT COMMAND [ARG...] runs COMMAND and, as
// each process of its tree (the command, the processes it forks, theirs) exits, appends its pid
// and its peak resident set (VmHWM, KiB) to REPORT, one "pid KiB" line per process. Exits with
// the command's status.
//
// GNU time's %M is the largest peak among the processes it waited for, not their sum. To see each
// one, the command runs under ptrace, stopped only when a process is created or exits: at its exit
// stop a process still has its memory, and /proc gives that memory's high-water mark. The tracing
// costs a few microseconds per process, but the benchmark does not time these runs.

#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace {

// VmHWM and Tgid of a thread from /proc/PID/status; the high-water mark belongs to the memory,
// which all threads of a process share.
bool readStatus(pid_t pid, long& peakKib, pid_t& process) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    bool havePeak = false, haveProcess = false;
    while (status >> key) {
        if (key == "VmHWM:") havePeak = bool(status >> peakKib);
        else if (key == "Tgid:") haveProcess = bool(status >> process);
        status.ignore(1 << 16, '\n');
    }
    return havePeak && haveProcess;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: peak REPORT COMMAND [ARG...]\n");
        return 2;
    }
    const pid_t command = fork();
    if (command < 0) return 2;
    if (command == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        raise(SIGSTOP);
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    if (waitpid(command, &status, 0) != command || !WIFSTOPPED(status)) return 2;
    const long options = PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK | PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXEC |
                         PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL;
    if (ptrace(PTRACE_SETOPTIONS, command, nullptr, options) != 0) {
        std::perror("ptrace");
        kill(command, SIGKILL);
        return 2;
    }
    ptrace(PTRACE_CONT, command, nullptr, nullptr);

    std::map<pid_t, long> peaks;  // by process (thread group)
    std::set<pid_t> started{command};  // threads whose first stop has been seen
    int result = 2;
    for (;;) {
        const pid_t pid = waitpid(-1, &status, __WALL);
        if (pid < 0) break;  // no traced thread left
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            if (pid == command) result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            continue;
        }
        if (!WIFSTOPPED(status)) continue;
        const int event = status >> 16;
        int signal = 0;
        if (event == PTRACE_EVENT_EXIT) {
            long peak = 0;
            pid_t process = 0;
            if (readStatus(pid, peak, process) && peak > peaks[process]) peaks[process] = peak;
        } else if (event == 0 && !started.count(pid)) {
            started.insert(pid);  // a new thread's initial SIGSTOP, from the tracing itself
            if (WSTOPSIG(status) != SIGSTOP) signal = WSTOPSIG(status);
        } else if (event == 0) {
            signal = WSTOPSIG(status);  // a signal meant for the process: pass it on
        }
        ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(long(signal)));
    }
    std::FILE* report = std::fopen(argv[1], "w");
    if (!report) return 2;
    for (const auto& [process, peak] : peaks) std::fprintf(report, "%d %ld\n", int(process), peak);
    return std::fclose(report) == 0 ? result : 2;
}
