#include "driver/Messages.h"

namespace {

// Windows converts in threads of one process: each thread's lines wait in its own buffer
thread_local std::string* captured = nullptr;

}  // namespace

void captureConsole(std::string* buffer) { captured = buffer; }

bool sendingToParent() { return captured != nullptr; }

void sendMessage(char kind, const std::string& text) { *captured += frameMessage(kind, text); }
