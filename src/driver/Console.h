#pragma once

#include <cstdio>
#include <string>

#include "fs/TerminalText.h"

class ItemRecords;

// Where and how one run prints its lines: a value each run makes for itself, so that a second run in
// the same process starts from its own command line and nothing of the first.
struct Console {
    const char* program = "mat2png";  // "PROGRAM: ..." in diagnostics
    // progress lines are dropped; failure lines and diagnostics stay (-q)
    bool quiet = false;
    // names in lines on standard output are written as terminalText writes them: they came from the
    // command line. The set run prints the names in mat/ as they are.
    bool escaped = false;
    // standard error, unless a harness that converts thousands of files wants the reasons elsewhere
    std::FILE* diagnostics = stderr;
    // where a caller that wants each file's outcome has it recorded as the lines are printed (the page), or none
    ItemRecords* records = nullptr;

    // A progress line on standard output: a literal ending in a blank, then a name or number;
    // flushed so that lines already printed survive a later failure.
    void printLine(const char* text, const std::string& value) const;
    // "Could not process NAME" on standard output and "PROGRAM: SUBJECT: REASON" on standard error.
    void printFailure(const std::string& name, const std::string& subject, const std::string& reason) const;
    // "PROGRAM: SUBJECT: TEXT" on standard error.
    void printDiagnostic(const std::string& subject, const std::string& text) const;

    // The lines themselves, for a worker's parent that prints them later: "Could not process NAME\n",
    // and "PROGRAM: SUBJECT: TEXT\n" with every byte outside printable ASCII written as \xNN, so that
    // text from a file cannot reach the terminal as its control sequences.
    std::string failureLine(const std::string& name) const;
    std::string diagnosticLine(const std::string& subject, const std::string& text) const;
};
