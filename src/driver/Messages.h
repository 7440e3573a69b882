#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The wire between a worker and its parent. A message is a kind ('O' a line for standard output,
// 'E' one for standard error, 'D' a file done), the text's size in four bytes of host order, and
// the text.

// In a worker: every console line from now on goes to `fd` as a message for the parent, which
// prints it in the batch's order.
void sendConsoleTo(int fd);
bool sendingToParent();
void sendMessage(char kind, const std::string& text);
std::string frameMessage(char kind, std::string_view text);
// The whole message at `at` in `bytes`, if there is one: its kind and text; `at` moves past it.
bool takeMessage(const std::string& bytes, std::size_t& at, char& kind, std::string_view& text);
// Writes the messages' texts to their streams; a stream is flushed when the other one takes
// over, so that the two keep their order on a terminal, and at the end.
void printMessages(const std::string& messages);
