#include "driver/Interrupts.h"

#include <windows.h>

#include <io.h>

#include <atomic>

#include "fs/InterruptGuard.h"
#include "fs/TempFile.h"

namespace {

std::atomic<bool> lineShown = false;

// Ctrl-C, Ctrl-Break, the console closed, the user logging off: called on a thread of its own. It waits
// for a backup and its rename to finish, removes every thread's temporary file and ends the process
// at once, as an interrupt ends it on Windows.
BOOL WINAPI onConsoleEvent(DWORD) {
    const InterruptGuard hold;
    removePendingTempFile();
    if (lineShown) ::_write(2, "\r\033[K", 4);
    ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

void installInterruptHandlers() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

void setProgressShown(bool shown) { lineShown = shown; }

bool progressShown() { return lineShown; }

// the workers are threads, ended with the process
void addWorker(pid_t) {}

void removeWorker(pid_t) {}

void forgetInheritedState() {}
