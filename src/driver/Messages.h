#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The wire between a worker and its parent. A message is a kind ('O' a line for standard output,
// 'E' one for standard error, 'D' a file done), the text's size in four bytes of host order, and
// the text.

// A worker's lines of the file it converts, also kept in memory shared with the parent, so that a
// worker sends a file's lines together with its end in one write and a parent still has them when
// the worker dies in the middle of the file. `bytes` holds the file's messages from its first on,
// as far as they fit; `length` grows only after they are there.
struct LineMirror {
    volatile std::uint32_t file;
    volatile std::uint32_t length;
    char bytes[(1 << 16) - 8];
};

// In a worker: every console line from now on goes to `fd` as a message for the parent, which
// prints it in the batch's order; `mirror` keeps the lines of the file under way.
void sendConsoleTo(int fd, LineMirror* mirror);
// In a worker: the lines that follow are the file `index`'s.
void beginFile(std::uint32_t index);
bool sendingToParent();
void sendMessage(char kind, const std::string& text);
std::string frameMessage(char kind, std::string_view text);
// The whole message at `at` in `bytes`, if there is one: its kind and text; `at` moves past it.
bool takeMessage(const std::string& bytes, std::size_t& at, char& kind, std::string_view& text);
// Writes the messages' texts to their streams; a stream is flushed when the other one takes
// over, so that the two keep their order on a terminal, and at the end.
void printMessages(const std::string& messages);
