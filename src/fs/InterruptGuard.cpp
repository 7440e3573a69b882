#include "fs/InterruptGuard.h"

#include <initializer_list>

sigset_t interruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&set, sig);
    return set;
}

InterruptGuard::InterruptGuard() {
    const sigset_t block = interruptSignals();
    ::sigprocmask(SIG_BLOCK, &block, &saved);
}

InterruptGuard::~InterruptGuard() { ::sigprocmask(SIG_SETMASK, &saved, nullptr); }
