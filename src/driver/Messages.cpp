#include "driver/Messages.h"

#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/Progress.h"

namespace {

int channel = -1;
LineMirror* mirror = nullptr;
// the file's messages not yet written to the parent
std::string pending;

void sendAll(const std::string& message) {
    for (std::size_t done = 0; done < message.size();) {
        // a parent that is gone ends this worker by its death signal, not by SIGPIPE here
        const ssize_t n = ::send(channel, message.data() + done, message.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

void sendConsoleTo(int fd, LineMirror* lines) {
    channel = fd;
    mirror = lines;
}

void beginFile(std::uint32_t index) {
    mirror->length = 0;
    mirror->file = index;
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
    const std::uint32_t length = mirror->length;
    // a line that the mirror cannot keep goes out at once, with those before it
    if (kind == 'D' || message.size() > sizeof mirror->bytes - length) {
        sendAll(pending + message);
        pending.clear();
        return;
    }
    std::memcpy(mirror->bytes + length, message.data(), message.size());
    // the parent may read the length once this process is dead: the bytes must be there first
    std::atomic_signal_fence(std::memory_order_seq_cst);
    mirror->length = length + static_cast<std::uint32_t>(message.size());
    pending += message;
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
