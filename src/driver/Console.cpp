#include "driver/Console.h"

#include "driver/ItemRecords.h"
#include "driver/Messages.h"
#include "driver/Platform.h"
#include "driver/Progress.h"

namespace {

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

std::string Console::failureLine(const std::string& name) const { return "Could not process " + consoleText(escaped ? terminalText(name) : name) + "\n"; }

std::string Console::diagnosticLine(const std::string& subject, const std::string& text) const {
    return std::string(program) + ": " + consoleText(terminalText(subject) + ": " + terminalText(text)) + "\n";
}

void Console::printLine(const char* text, const std::string& value) const {
    if (quiet) return;
    emit(stdout, text + consoleText(escaped ? terminalText(value) : value) + "\n");
}

void Console::printFailure(const std::string& name, const std::string& subject, const std::string& reason) const {
    emit(stdout, failureLine(name));
    emit(diagnostics, diagnosticLine(subject, reason));
    if (records) records->failure(reason);
}

void Console::printDiagnostic(const std::string& subject, const std::string& text) const {
    emit(diagnostics, diagnosticLine(subject, text));
    if (records) records->note(subject, text);
}
