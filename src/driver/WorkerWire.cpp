#include "driver/Messages.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "fs/WriteAll.h"

namespace {

// a worker's wire to its parent, set once after the fork: the worker process's, ended with it
int channel = -1;
LineMirror* mirror = nullptr;
// messages not yet sent, and the bytes of the stream sent so far
std::string pending;
std::uint64_t sent = 0;
std::chrono::steady_clock::time_point lastSent;
// the parent hears of finished files at least this often, for its progress line and its feeding
constexpr auto flushEvery = std::chrono::milliseconds(4);

void transmit(const std::string& message) {
    // a parent that is gone ends this worker by its death signal, not by SIGPIPE here
    if (sendAll(channel, message.data(), message.size()) == 0) sent += message.size();
}

// A dead worker's parent reads both fields: the mirror is emptied before it moves on.
void resetMirror() {
    mirror->length = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    mirror->base = sent;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace

void sendConsoleTo(int fd, LineMirror* lines) {
    channel = fd;
    mirror = lines;
    lastSent = std::chrono::steady_clock::now();
}

void flushToParent() {
    if (pending.empty()) return;
    transmit(pending);
    pending.clear();
    resetMirror();
    lastSent = std::chrono::steady_clock::now();
}

bool sendingToParent() { return channel >= 0; }

void sendMessage(char kind, const std::string& text) {
    const std::string message = frameMessage(kind, text);
    if (message.size() > sizeof mirror->bytes - mirror->length) flushToParent();
    if (message.size() > sizeof mirror->bytes) {
        // no line is this long; it goes out alone rather than unmirrored behind others
        transmit(message);
        resetMirror();
        return;
    }
    const std::uint32_t length = mirror->length;
    std::memcpy(mirror->bytes + length, message.data(), message.size());
    // the parent may read the length once this process is dead: the bytes must be there first
    std::atomic_signal_fence(std::memory_order_seq_cst);
    mirror->length = length + static_cast<std::uint32_t>(message.size());
    pending += message;
    if (kind == 'D' && std::chrono::steady_clock::now() - lastSent >= flushEvery) flushToParent();
}

