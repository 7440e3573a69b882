#pragma once

#include <sys/types.h>

// SIGINT, SIGTERM, SIGHUP and SIGPIPE end the program by the same signal after
// removing the temporary file being written and stopping the workers; a signal
// that was ignored when the program started stays ignored. InterruptGuard
// (fs/InterruptGuard.h) holds them back.
void installInterruptHandlers();

// Whether the progress line is on the terminal, for a signal to erase it and for a line printed
// over it.
void setProgressShown(bool shown);
bool progressShown();

// A worker process that a signal must stop; forgotten again once reaped.
void addWorker(pid_t pid);
void removeWorker(pid_t pid);
// In a new worker, forked with the signals held back: no inherited temporary
// file or workers of the parent, and the signals delivered again.
void forgetInheritedState();
