#include "driver/Console.h"

#include "driver/Messages.h"
#include "driver/Progress.h"
#include "fs/ProgramName.h"
#include "fs/TerminalText.h"

namespace {

bool quietmode = false;
bool escapedmode = false;
std::FILE* diagnostics = stderr;

void emit(std::FILE* stream, const std::string& text) {
    if (sendingToParent()) {
        sendMessage(stream == stdout ? 'O' : 'E', text);
        return;
    }
    clearProgress(stream);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

std::string failureLine(const std::string& name) { return "Could not process " + (escapedmode ? terminalText(name) : name) + "\n"; }

std::string diagnosticLine(const std::string& subject, const std::string& text) {
    return std::string(programName) + ": " + terminalText(subject) + ": " + terminalText(text) + "\n";
}

void setQuiet(bool quiet) { quietmode = quiet; }

void setEscaped(bool escaped) { escapedmode = escaped; }

void setDiagnosticStream(std::FILE* stream) { diagnostics = stream; }

void printLine(const char* text, const std::string& value) {
    if (quietmode) return;
    emit(stdout, text + (escapedmode ? terminalText(value) : value) + "\n");
}

void printFailure(const std::string& name, const std::string& subject, const std::string& reason) {
    emit(stdout, failureLine(name));
    printDiagnostic(subject, reason);
}

void printDiagnostic(const std::string& subject, const std::string& text) { emit(diagnostics, diagnosticLine(subject, text)); }
