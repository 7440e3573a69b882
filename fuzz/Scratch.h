#pragma once

// The scratch working directory in which a fuzz target runs one program's per-file work.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>


namespace fuzz {

namespace fs = std::filesystem;

inline fs::path scratch;
// where the targets' runs send the reasons of failed files
inline std::FILE* reasons = nullptr;

// A new directory NAME-fuzz-XXXXXX with mat/ and pal/, removed at exit.
inline void makeScratch(const char* name) {
    std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-fuzz-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) std::abort();
    scratch = pattern;
    fs::create_directory(scratch / "mat");
    fs::create_directory(scratch / "pal");
    // one console line per file would drown libFuzzer's own report
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    // libFuzzer and the sanitizers report on standard error, so only the reasons go elsewhere
    reasons = std::fopen("/dev/null", "w");
    if (!reasons) std::abort();
    std::atexit([] { fs::remove_all(scratch); });
}

inline void write(const char* path, std::string_view bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) std::abort();
}

}  // namespace fuzz
