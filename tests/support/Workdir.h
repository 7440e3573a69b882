#pragma once

// A scratch working directory with mat/ and pal/, and the real program run in it.

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "support/IffWriter.h"

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

struct Workdir {
    fs::path root;

    Workdir() {
        std::string pattern = (fs::temp_directory_path() / "mat2png-test-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        fs::create_directories(root / "mat");
        fs::create_directories(root / "pal");
    }
    ~Workdir() {
        fs::remove_all(root);
        fs::remove(errors());
    }
    // standard error of the last run, beside the directory so that it is not one of its entries
    fs::path errors() const { return root.string() + ".err"; }

    fs::path operator/(const std::string& relative) const { return root / relative; }
    void put(const std::string& relative, const iff::Bytes& data) const { iff::save(root / relative, data); }
    std::string read(const std::string& relative) const {
        std::ifstream in(root / relative);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    long entries(const std::string& relative) const { return std::distance(fs::directory_iterator(root / relative), {}); }

    // `prefix` is shell text run before the program (limits, traps); `wrapper` is a command the program runs
    // under; `args` are the program's arguments, as shell text.
    Outcome run(const std::string& prefix = "", const std::string& wrapper = "", const std::string& args = "",
                const std::string& binary = MAT2PNG_BINARY) const {
        const std::string command = "cd '" + root.string() + "' && " + prefix + " exec 2>'" + errors().string() + "' " +
                                    wrapper + " " + binary + " " + args;
        std::FILE* pipe = ::popen(command.c_str(), "r");
        Outcome result;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
        const int status = ::pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::ifstream err(errors());
        result.err.assign(std::istreambuf_iterator<char>(err), {});
        return result;
    }
};

// Nothing if the shell command `probe` (such as "unshare -rm true") succeeds here, else what it printed on
// failing: the reason to skip the tests that need what it tries. Each probe runs once.
inline std::string refusal(const std::string& probe) {
    static std::map<std::string, std::string> known;
    const auto found = known.find(probe);
    if (found != known.end()) return found->second;
    std::FILE* pipe = ::popen((probe + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = ::pclose(pipe);
    if (status != 0 && out.empty()) out = "'" + probe + "' failed with status " + std::to_string(status);
    return known[probe] = status == 0 ? "" : out;
}
