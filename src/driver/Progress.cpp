#include "driver/Progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "driver/Interrupts.h"
#include "fs/WriteAll.h"

namespace {

constexpr char erase[] = "\r\033[K";

// a line that cannot be drawn is no reason to stop the run
void put(const std::string& text) { writeAll(STDERR_FILENO, text.data(), text.size()); }

std::string clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    const std::string ss = std::to_string(s % 60);
    return (s >= 3600 ? std::to_string(s / 3600) + ":" + (s / 60 % 60 < 10 ? "0" : "") : "") +
           std::to_string(s / 60 % 60) + ":" + (ss.size() < 2 ? "0" : "") + ss;
}

}  // namespace

Progress::Progress(std::size_t total, const char* program, Show show)
    : total(total), program(program), start(std::chrono::steady_clock::now()), drawn(start),
      enabled(show != Show::never && total > 0 && ::isatty(STDERR_FILENO) && (show == Show::always || !::isatty(STDOUT_FILENO))) {}

Progress::~Progress() {
    if (progressShown()) put(erase);
    setProgressShown(false);
}

void Progress::advance(std::size_t count) {
    done += count;
    if (!enabled || !count) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - drawn < interval) return;
    drawn = now;
    const double elapsed = std::chrono::duration<double>(now - start).count();
    const double rate = done / elapsed;
    char figure[32];
    std::snprintf(figure, sizeof figure, rate < 10 ? "%.1f" : "%.0f", rate);
    std::string text = std::string(program) + ": " + std::to_string(done) + " of " + std::to_string(total) +
                       " files, " + figure + " files/s, " + clock((total - done) / rate) + " left";
    // a line wider than the terminal would wrap, and the carriage return would erase only its end
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && text.size() >= size.ws_col)
        text.resize(size.ws_col - 1u);
    put("\r" + text + "\033[K");
    setProgressShown(true);
}

void clearProgress(std::FILE* stream) {
    // asked only while the line is shown, which is at most ten times a second
    if (!progressShown() || (stream == stdout && !::isatty(STDOUT_FILENO))) return;
    put(erase);
    setProgressShown(false);
}
