#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The wire between a worker and its parent. A message is a kind ('O' a line for standard output,
// 'E' one for standard error, 'D' a file done), the text's size in four bytes of host order, and
// the text.

// What a worker has written for its parent and not yet sent, also kept in memory shared with the
// parent: a worker sends the messages of several quick files in one write, and a parent still has
// them when the worker dies before it sends them. `bytes` holds the worker's stream of messages from
// offset `base` on, `length` of them; each field changes only once what it covers is there.
struct LineMirror {
    volatile std::uint64_t base;
    volatile std::uint32_t length;
    char bytes[(1 << 16) - 16];
};

// In a worker: every console line from now on goes to `fd` as a message for the parent, which
// prints it in the batch's order; `mirror` keeps what is not sent yet.
void sendConsoleTo(int fd, LineMirror* mirror);
// In a worker thread (Windows, WorkerWireWindows.cpp): every console line of this thread from now on
// goes to `buffer` as a message, until it is called with null.
void captureConsole(std::string* buffer);
// In a worker: sends what it holds, before it waits for the parent or when a file ends a while
// after the last write, so that the parent prints and hands out files in time.
void flushToParent();
bool sendingToParent();
void sendMessage(char kind, const std::string& text);
std::string frameMessage(char kind, std::string_view text);
// The whole message at `at` in `bytes`, if there is one: its kind and text; `at` moves past it.
bool takeMessage(const std::string& bytes, std::size_t& at, char& kind, std::string_view& text);
// Writes the messages' texts to their streams; a stream is flushed when the other one takes
// over, so that the two keep their order on a terminal, and at the end.
void printMessages(const std::string& messages);
