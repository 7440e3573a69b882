#pragma once

// A program started in the background, for the tests that act on it while it runs; every wait has a
// deadline, so that a run that hangs fails its test instead of reaching CTest's timeout.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

constexpr auto deadline = std::chrono::seconds(30);

// `binary` started in `dir` as the leader of its own process group, so that its workers can be killed with
// it; its standard output on `out` (or /dev/null), `env` ("NAME=value") added, the interrupt signals at
// their defaults unless listed in `ignored`.
inline pid_t start(const std::filesystem::path& dir, const std::string& binary, std::vector<std::string> args, int out = -1,
                   const std::set<int>& ignored = {}, const std::vector<std::string>& env = {}) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::setpgid(0, 0);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(out >= 0 ? out : null, 1);
    ::dup2(null, 2);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, ignored.count(sig) ? SIG_IGN : SIG_DFL);
    for (const std::string& setting : env) ::putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
}

// Polls `done` until it holds, or until the deadline has passed: false then.
inline bool eventually(const std::function<bool()>& done) {
    for (const auto end = std::chrono::steady_clock::now() + deadline; !done();) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Kills what is left of the run started as `pid`, and reaps it.
inline int killRun(pid_t pid) {
    ::kill(-pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// The status of `pid` once it has ended. A run still going at the deadline is killed, and the exception ends
// the test at once, failed, so that the next cases do not wait in turn.
inline int waitFor(pid_t pid) {
    int status = 0;
    if (eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) return status;
    killRun(pid);
    throw std::runtime_error("the run was still going " + std::to_string(deadline.count()) + " s after it should have ended: killed");
}

// The processes of a run under the race shim with $RACE_PAUSED=`paused` that hold at a pause point.
inline std::set<pid_t> pausedProcesses(const std::filesystem::path& paused) {
    std::set<pid_t> pids;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(paused, ignored))
        if (entry.path().filename().string()[0] != '.') pids.insert(std::stoi(entry.path().filename()));
    return pids;
}

// Waits until a process of the run `run` holds at a pause point: its pid, or 0 (the test failed) if the run
// ended first; one that never gets there by the deadline is killed, and ends the test as waitFor does.
inline pid_t pausedAt(pid_t run, const std::filesystem::path& paused) {
    pid_t pid = 0;
    const bool there = eventually([&] {
        const std::set<pid_t> pids = pausedProcesses(paused);
        pid = pids.empty() ? 0 : *pids.begin();
        return pid || ::waitpid(run, nullptr, WNOHANG) == run;
    });
    if (pid) return pid;
    if (there) {
        ADD_FAILURE() << "the run ended before it reached its pause point";
        return 0;
    }
    killRun(run);
    throw std::runtime_error("the run did not reach its pause point within " + std::to_string(deadline.count()) + " s: killed");
}

// Lets the process `pid` held at a pause point go on.
inline void resume(const std::filesystem::path& paused, pid_t pid) {
    std::filesystem::remove(paused / std::to_string(pid));
    ::kill(pid, SIGUSR1);
}
