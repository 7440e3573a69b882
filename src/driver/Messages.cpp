#include "driver/Messages.h"

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/Progress.h"
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

std::string frameMessage(char kind, std::string_view text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    std::string message(1, kind);
    message.append(reinterpret_cast<const char*>(&size), sizeof size);
    return message.append(text);
}

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

bool takeMessage(const std::string& bytes, std::size_t& at, char& kind, std::string_view& text) {
    std::uint32_t size;
    if (bytes.size() - at < 1 + sizeof size) return false;
    std::memcpy(&size, bytes.data() + at + 1, sizeof size);
    if (bytes.size() - at - 1 - sizeof size < size) return false;
    kind = bytes[at];
    text = std::string_view(bytes).substr(at + 1 + sizeof size, size);
    at += 1 + sizeof size + size;
    return true;
}

void printMessages(const std::string& messages) {
    std::FILE* last = nullptr;
    char kind;
    std::string_view text;
    for (std::size_t at = 0; takeMessage(messages, at, kind, text);) {
        std::FILE* stream = kind == 'O' ? stdout : stderr;
        if (last && stream != last) std::fflush(last);
        clearProgress(stream);
        std::fwrite(text.data(), 1, text.size(), stream);
        last = stream;
    }
    if (last) std::fflush(last);
}
