#include "colour/Parallel.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace colour {

namespace {

std::size_t threadCount() { return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 16); }

}  // namespace

void inParallel(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body, std::size_t worthThreads) {
    const std::size_t threads = threadCount();
    if (threads == 1 || count < worthThreads) return body(0, count);
    // parts of about a sixteenth of each thread's share, taken as the threads finish: work of uneven cost along
    // the range, such as colours that need a search afresh among those that do not, still ends together
    const std::size_t part = std::max<std::size_t>(worthThreads / 4, (count + 16 * threads - 1) / (16 * threads));
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t first; (first = next.fetch_add(part)) < count;) body(first, std::min(count, first + part));
    };
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
}

void eachInParallel(std::size_t count, const std::function<void(std::size_t)>& body) {
    const std::size_t threads = std::min(threadCount(), count);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t n; (n = next++) < count;) body(n);
    };
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
}

}  // namespace colour
