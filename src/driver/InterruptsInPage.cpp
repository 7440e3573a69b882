#include "driver/Interrupts.h"

// A page has no signals and no worker processes: a run is stopped by ending its Web Worker, whose
// memory and virtual files go with it.
void installInterruptHandlers() {}

void setProgressShown(bool) {}

bool progressShown() { return false; }

void addWorker(pid_t) {}

void removeWorker(pid_t) {}

void forgetInheritedState() {}
