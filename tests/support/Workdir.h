#pragma once

// A scratch working directory with mat/ and pal/, and a way to run the real
// program in it.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/IffWriter.h"

namespace fs = std::filesystem;

struct Run {
    int status = -1;
    std::string out;
    long peakKiB = 0;
};

class Workdir {
public:
    Workdir() {
        std::string pattern = (fs::temp_directory_path() / "mat2png-test-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
        fs::create_directory(root / "mat");
        fs::create_directory(root / "pal");
    }
    ~Workdir() { fs::remove_all(root); }

    fs::path path(const std::string& relative) const { return root / relative; }
    void put(const std::string& relative, const iff::Bytes& data) const { iff::save(path(relative), data); }
    bool exists(const std::string& relative) const { return fs::exists(fs::symlink_status(path(relative))); }

    // Runs the program here; `prefix` is shell text placed before it (limits, traps).
    Run run(const std::string& prefix = "") const {
        int pipefd[2];
        if (::pipe(pipefd) != 0) return {};
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(pipefd[1], 1);
            ::close(pipefd[0]);
            ::close(pipefd[1]);
            if (::chdir(root.c_str()) != 0) ::_exit(127);
            const std::string command = prefix + " exec " MAT2PNG_BINARY;
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipefd[1]);
        Run result;
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipefd[0], buffer, sizeof buffer)) > 0;) result.out.append(buffer, std::size_t(n));
        ::close(pipefd[0]);
        int status = 0;
        struct rusage usage {};
        ::wait4(pid, &status, 0, &usage);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.peakKiB = usage.ru_maxrss;
        return result;
    }

private:
    fs::path root;
};
