#include "driver/Console.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

const char* programName = "mat2png";

namespace {

bool quietmode = false;
int channel = -1;
std::FILE* diagnostics = stderr;

void emit(std::FILE* stream, const std::string& text) {
    if (channel >= 0) {
        sendMessage(stream == stdout ? 'O' : 'E', text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

void setQuiet(bool quiet) { quietmode = quiet; }

void setDiagnosticStream(std::FILE* stream) { diagnostics = stream; }

void sendConsoleTo(int fd) { channel = fd; }

std::string frameMessage(char kind, const std::string& text) {
    const auto size = static_cast<std::uint32_t>(text.size());
    std::string message(1, kind);
    message.append(reinterpret_cast<const char*>(&size), sizeof size);
    return message + text;
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
    emit(stdout, "Could not process " + name + "\n");
    printDiagnostic(subject, reason);
}

void printDiagnostic(const std::string& subject, const std::string& text) {
    emit(diagnostics, std::string(programName) + ": " + subject + ": " + text + "\n");
}
