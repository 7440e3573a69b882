#pragma once

#include <signal.h>

// The signals that interrupt a run: SIGINT, SIGTERM, SIGHUP and SIGPIPE.
sigset_t interruptSignals();

// Holds the interrupt signals back for its lifetime, so that steps that must not be parted (a fork
// and the record of the new worker, a backup and the rename it stands for) happen as one.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    sigset_t saved;
};
