#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// The program's name in diagnostics, set once by its entry point.
extern const char* programName;

// Where diagnostics go in a process that prints its own lines: standard error,
// unless a harness that converts thousands of files wants them elsewhere.
void setDiagnosticStream(std::FILE* stream);

// With quiet set, progress lines are dropped; failure lines and diagnostics stay.
void setQuiet(bool quiet);

// A progress line on standard output: a literal ending in a blank, then a name
// or number; flushed so that lines already printed survive a later failure.
void printLine(const char* text, const std::string& value);

// "Could not process NAME" on standard output and "PROGRAM: SUBJECT: REASON"
// on standard error.
void printFailure(const std::string& name, const std::string& subject, const std::string& reason);

// "PROGRAM: SUBJECT: TEXT" on standard error.
void printDiagnostic(const std::string& subject, const std::string& text);

// In a worker: every line from now on goes to `fd` as a message for the parent
// (see Workers), which prints it in the batch's order.
void sendConsoleTo(int fd);
// A message for the parent: 'O' standard output, 'E' standard error, 'D' done;
// its bytes are the kind, the text's size in four bytes of host order, the text.
void sendMessage(char kind, const std::string& text);
// The whole message at `at` in `bytes`, if there is one: its kind and text; `at` moves past it.
bool takeMessage(const std::string& bytes, std::size_t& at, char& kind, std::string_view& text);
// The messages of a file that failed: "Could not process NAME" and "PROGRAM: SUBJECT: REASON".
std::string failureMessages(const std::string& name, const std::string& subject, const std::string& reason);
