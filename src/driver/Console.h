#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "fs/TerminalText.h"

// Where diagnostics go in a process that prints its own lines: standard error,
// unless a harness that converts thousands of files wants them elsewhere.
void setDiagnosticStream(std::FILE* stream);

// With quiet set, progress lines are dropped; failure lines and diagnostics stay.
void setQuiet(bool quiet);

// With escaped set, the names in lines on standard output are written as terminalText writes them:
// they came from the command line. The set run prints the names in mat/ as they are.
void setEscaped(bool escaped);

// A progress line on standard output: a literal ending in a blank, then a name
// or number; flushed so that lines already printed survive a later failure.
void printLine(const char* text, const std::string& value);

// "Could not process NAME" on standard output and "PROGRAM: SUBJECT: REASON"
// on standard error.
void printFailure(const std::string& name, const std::string& subject, const std::string& reason);

// "PROGRAM: SUBJECT: TEXT" on standard error.
void printDiagnostic(const std::string& subject, const std::string& text);

// The lines themselves, for a worker's parent that prints them later: "Could not process NAME\n",
// and "PROGRAM: SUBJECT: TEXT\n" with every byte outside printable ASCII written as \xNN, so that
// text from a file cannot reach the terminal as its control sequences.
std::string failureLine(const std::string& name);
std::string diagnosticLine(const std::string& subject, const std::string& text);
