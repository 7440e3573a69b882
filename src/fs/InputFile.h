#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

// A regular file open for reading, closed when destroyed. Anything else (missing file, directory,
// FIFO, device) raises ReadError with the system's error text or what the entry is:
// opening a FIFO would wait for a writer forever.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    virtual ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::FILE* stream() const { return file; }
    // The size and modification time the file had when it was opened.
    std::uint64_t size() const { return bytes; }
    const timespec& modified() const { return mtime; }

private:
    std::FILE* file = nullptr;
    std::uint64_t bytes = 0;
    timespec mtime{};
};
