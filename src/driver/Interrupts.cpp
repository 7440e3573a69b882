#include "driver/Interrupts.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "fs/InterruptGuard.h"
#include "fs/Limits.h"
#include "fs/TempFile.h"

namespace {

constexpr int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// the process's signal handler reads them, so they are the process's, not a run's: fixed storage, no allocation
volatile sig_atomic_t lineShown = 0;
volatile pid_t workers[maxJobs];

void onSignal(int sig) {
    const int saved = errno;
    removePendingTempFile();
    if (lineShown && ::write(STDERR_FILENO, "\r\033[K", 4) < 0) lineShown = 0;
    for (volatile pid_t& pid : workers)
        if (pid > 0) ::kill(pid, sig == SIGPIPE ? SIGTERM : sig);
    // the workers remove their own temporary files; the parent ends only after they have
    for (volatile pid_t& pid : workers)
        if (pid > 0) {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            pid = 0;
        }
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(sig, &action, nullptr);
    errno = saved;
    // delivered, by default action, as soon as the handler returns and the mask is restored
    ::raise(sig);
}

}  // namespace

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_mask = interruptSignals();
    for (const int sig : signals) {
        struct sigaction old {};
        ::sigaction(sig, nullptr, &old);
        // nohup and the like ignore a signal on purpose
        if (old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
    }
}

void setProgressShown(bool shown) { lineShown = shown; }

bool progressShown() { return lineShown; }

void addWorker(pid_t pid) {
    for (volatile pid_t& slot : workers)
        if (slot == 0) {
            slot = pid;
            return;
        }
}

void removeWorker(pid_t pid) {
    for (volatile pid_t& slot : workers)
        if (slot == pid) slot = 0;
}

void forgetInheritedState() {
    forgetPendingTempFile();
    lineShown = 0;
    for (volatile pid_t& slot : workers) slot = 0;
    // the fork happened with the signals held back; the worker's own guard never ends
    const sigset_t block = interruptSignals();
    ::sigprocmask(SIG_UNBLOCK, &block, nullptr);
}
