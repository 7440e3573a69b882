#include "colour/Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "fs/AllowedCpuCount.h"

namespace colour {

// Threads that wait for a job, run it beside the caller and report back: starting a thread for each of the fit's
// hundreds of short parallel steps cost about as much as some of the steps themselves.
struct Parallel::Workers {
    std::vector<std::thread> threads;
    std::mutex lock;
    std::condition_variable wake, finished;
    const std::function<void()>* job = nullptr;
    std::size_t generation = 0, running = 0;
    bool stopping = false;
    std::exception_ptr failure;

    void serve() {
        for (std::size_t seen = 0;;) {
            const std::function<void()>* work;
            {
                std::unique_lock<std::mutex> hold(lock);
                wake.wait(hold, [&] { return stopping || generation != seen; });
                if (stopping) return;
                seen = generation, work = job;
            }
            std::exception_ptr failed;
            try {
                (*work)();
            } catch (...) {
                failed = std::current_exception();
            }
            std::lock_guard<std::mutex> hold(lock);
            if (failed && !failure) failure = failed;
            if (--running == 0) finished.notify_one();
        }
    }

    // runs `work` on every thread and the caller's; an exception from any of them is thrown here once all are done
    void run(const std::function<void()>& work) {
        {
            std::lock_guard<std::mutex> hold(lock);
            job = &work, running = threads.size(), failure = nullptr, ++generation;
        }
        wake.notify_all();
        std::exception_ptr failed;
        try {
            work();
        } catch (...) {
            failed = std::current_exception();
        }
        std::unique_lock<std::mutex> hold(lock);
        finished.wait(hold, [&] { return running == 0; });
        if (!failed) failed = failure;
        if (failed) std::rethrow_exception(failed);
    }
};

Parallel::Parallel() : Parallel(std::min<std::size_t>(allowedCpuCount(), 16)) {}

Parallel::Parallel(std::size_t threads) : workers(std::make_unique<Workers>()) {
    try {
        workers->threads.reserve(threads);
        for (std::size_t t = 1; t < threads; ++t) workers->threads.emplace_back([this] { workers->serve(); });
    } catch (...) {
        // a thread left unjoined would end the process
        stop();
        throw;
    }
}

Parallel::~Parallel() { stop(); }

void Parallel::stop() {
    {
        std::lock_guard<std::mutex> hold(workers->lock);
        workers->stopping = true;
    }
    workers->wake.notify_all();
    for (std::thread& thread : workers->threads) thread.join();
}

void Parallel::inParts(std::size_t count, const std::function<void(std::size_t, std::size_t)>& body, std::size_t worthThreads) {
    const std::size_t threads = workers->threads.size() + 1;
    if (threads == 1 || count < worthThreads) return body(0, count);
    // parts of about a sixteenth of each thread's share, taken as the threads finish: work of uneven cost along
    // the range, such as colours that need a search afresh among those that do not, still ends together
    const std::size_t part = std::max<std::size_t>(worthThreads / 4, (count + 16 * threads - 1) / (16 * threads));
    std::atomic<std::size_t> next{0};
    workers->run([&] {
        for (std::size_t first; (first = next.fetch_add(part)) < count;) body(first, std::min(count, first + part));
    });
}

void Parallel::each(std::size_t count, const std::function<void(std::size_t)>& body) {
    if (workers->threads.empty() || count < 2) {
        for (std::size_t n = 0; n < count; ++n) body(n);
        return;
    }
    std::atomic<std::size_t> next{0};
    workers->run([&] {
        for (std::size_t n; (n = next++) < count;) body(n);
    });
}

}  // namespace colour
