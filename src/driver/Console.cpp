#include "driver/Console.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/Progress.h"

const char* programName = "mat2png";

namespace {

bool quietmode = false;
int channel = -1;
std::FILE* diagnostics = stderr;

std::string failureLine(const std::string& name) { return "Could not process " + name + "\n"; }

std::string diagnosticLine(const std::string& subject, const std::string& text) {
    return std::string(programName) + ": " + subject + ": " + text + "\n";
}

std::string frameMessage(char kind, const std::string& text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    std::string message(1, kind);
    message.append(reinterpret_cast<const char*>(&size), sizeof size);
    return message + text;
}

void emit(std::FILE* stream, const std::string& text) {
    if (channel >= 0) {
        sendMessage(stream == stdout ? 'O' : 'E', text);
        return;
    }
    clearProgress(stream);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

void setQuiet(bool quiet) { quietmode = quiet; }

void setDiagnosticStream(std::FILE* stream) { diagnostics = stream; }

void sendConsoleTo(int fd) { channel = fd; }

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

std::string failureMessages(const std::string& name, const std::string& subject, const std::string& reason) {
    return frameMessage('O', failureLine(name)) + frameMessage('E', diagnosticLine(subject, reason));
}

void sendMessage(char kind, const std::string& text) {
    const std::string message = frameMessage(kind, text);
    for (std::size_t done = 0; done < message.size();) {
        // a parent that is gone ends this worker by its death signal, not by SIGPIPE here
        const ssize_t n = ::send(channel, message.data() + done, message.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void printLine(const char* text, const std::string& value) {
    if (quietmode) return;
    emit(stdout, text + value + "\n");
}

void printFailure(const std::string& name, const std::string& subject, const std::string& reason) {
    emit(stdout, failureLine(name));
    printDiagnostic(subject, reason);
}

void printDiagnostic(const std::string& subject, const std::string& text) { emit(diagnostics, diagnosticLine(subject, text)); }
