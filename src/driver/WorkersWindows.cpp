#include "driver/Workers.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "driver/Batch.h"
#include "driver/Messages.h"

namespace {

// What a file has produced: its lines, as messages, and how it ended.
struct FileResult {
    std::string messages;
    Processed processed = Processed::done;
    bool done = false;
};

}  // namespace

// Windows has no fork: the files are converted by threads of this process, each taking the next file,
// and printed here in the batch's order. A program keeps no state of a run outside its options, so
// the threads share nothing but the results.
int runWorkers(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items, int jobs,
               Progress& progress, std::size_t& current) {
    std::vector<FileResult> results(items.size());
    std::mutex lock;
    std::condition_variable ready;
    std::size_t next = 0;
    const auto work = [&] {
        std::string lines;
        captureConsole(&lines);
        while (true) {
            std::size_t index;
            {
                const std::lock_guard<std::mutex> hold(lock);
                if (next == items.size()) break;
                index = next++;
            }
            const Processed processed = processFile(program, run, items[index]);
            {
                const std::lock_guard<std::mutex> hold(lock);
                results[index].messages.swap(lines);
                results[index].processed = processed;
                results[index].done = true;
            }
            lines.clear();
            ready.notify_all();
        }
        captureConsole(nullptr);
    };
    std::vector<std::thread> threads;
    try {
        for (int i = 0; i < jobs; ++i) threads.emplace_back(work);
    } catch (const std::system_error&) {
        // those started do the work; with none, this thread does it below
    }
    if (threads.empty()) return processInOrder(program, run, items, progress, current);
    int status = 0;
    for (std::size_t printed = 0; printed < items.size(); ++printed) {
        std::string lines;
        Processed processed;
        {
            std::unique_lock<std::mutex> hold(lock);
            ready.wait(hold, [&] { return results[printed].done; });
            lines.swap(results[printed].messages);
            processed = results[printed].processed;
        }
        printMessages(lines);
        if (processed == Processed::failed) status = 1;
        if (processed == Processed::current) ++current;
        progress.advance();
    }
    for (std::thread& thread : threads) thread.join();
    return status;
}
