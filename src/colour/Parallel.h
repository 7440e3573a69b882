#pragma once

#include <cstddef>
#include <functional>

// The fit's thread helpers. Each body writes only what is its own, so the result does not depend on the
// number of threads; the build chooses Parallel.cpp (threads) or ParallelInline.cpp (one thread, for
// WebAssembly, where a page opened from disk has no threads).
namespace colour {

// Runs body(first, last) on parts of 0 to count, in threads where count reaches `worthThreads`.
void inParallel(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body, std::size_t worthThreads = 4096);

// Runs body(n) for each n of 0 to count, in threads that take the next n as they finish, for work of uneven size.
void eachInParallel(std::size_t count, const std::function<void(std::size_t)>& body);

}  // namespace colour
