#pragma once

#include <cstddef>
#include <functional>
#include <memory>

// The fit's threads, started once for a fit and joined when it ends. Each body writes only what is its own, so the
// result does not depend on the number of threads; the build chooses Parallel.cpp (threads) or ParallelInline.cpp
// (one thread, for WebAssembly, where a page opened from disk has no threads).
namespace colour {

class Parallel {
public:
    // One thread for each CPU the process may run on, the caller's among them, at most 16: on one CPU none is started.
    Parallel();
    // `threads` in all, the caller's among them (1 or 0: none started). A thread that cannot start fails this
    // with std::system_error, the ones started joined first.
    explicit Parallel(std::size_t threads);
    ~Parallel();
    Parallel(const Parallel&) = delete;
    Parallel& operator=(const Parallel&) = delete;

    // Runs body(first, last) on parts of 0 to count, in threads where count reaches `worthThreads`.
    void inParts(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body, std::size_t worthThreads = 4096);

    // Runs body(n) for each n of 0 to count, in threads that take the next n as they finish, for work of uneven size.
    void each(std::size_t count, const std::function<void(std::size_t)>& body);

private:
    void stop();

    struct Workers;
    std::unique_ptr<Workers> workers;
};

}  // namespace colour
