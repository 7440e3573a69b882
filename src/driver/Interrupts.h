#pragma once

#include <signal.h>
#include <sys/types.h>

// SIGINT, SIGTERM, SIGHUP and SIGPIPE end the program by the same signal after
// removing the temporary file being written and stopping the workers; a signal
// that was ignored when the program started stays ignored.
void installInterruptHandlers();

// The temporary file that a signal must remove, or nullptr once it is renamed
// or gone.
void setPendingFile(const char* path);

// Whether the progress line is on the terminal, for a signal to erase it.
void setProgressShown(bool shown);

// A worker process that a signal must stop; forgotten again once reaped.
void addWorker(pid_t pid);
void removeWorker(pid_t pid);
// In a new worker, forked with the signals held back: no inherited temporary
// file or workers of the parent, and the signals delivered again.
void forgetInheritedState();

// Holds the interrupt signals back for its lifetime, so that steps that must
// not be parted (a fork and the record of the new worker, a backup and the
// rename it stands for) happen as one.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    sigset_t saved;
};
