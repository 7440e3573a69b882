// libFuzzer target: one input is a MAT file, the separator "\n--png--\n" and the
// bytes of its image, optionally followed by "\n--pal--\n" and pal/p.pal; png2mat's
// per-file rebuild runs on them in a scratch directory.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "Scratch.h"
#include "driver/Batch.h"
#include "png2mat/Png2Mat.h"

namespace fs = std::filesystem;
using fuzz::scratch;
using fuzz::write;

namespace {

constexpr std::string_view pngSeparator = "\n--png--\n", palSeparator = "\n--pal--\n";

// The part of `input` before `separator`; `input` keeps what follows it, or nothing.
std::string_view cut(std::string_view& input, std::string_view separator) {
    const std::size_t split = input.find(separator);
    const std::string_view head = input.substr(0, split);
    input = split == std::string_view::npos ? std::string_view() : input.substr(split + separator.size());
    return head;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::makeScratch("png2mat");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path home = fs::current_path();
    fs::current_path(scratch);
    std::string_view input(reinterpret_cast<const char*>(data), size);
    write("mat/f.mat", cut(input, pngSeparator));
    write("mat/f.mat.png", cut(input, palSeparator));
    if (input.empty()) fs::remove("pal/p.pal");
    else write("pal/p.pal", input);

    RunOptions run;
    run.console = {.program = "png2mat", .diagnostics = fuzz::reasons};
    processFile(Png2Mat().program(), run, setItem("f.mat"));

    fs::remove("mat/f.mat.bak");
    for (const fs::directory_entry& entry : fs::directory_iterator("mat"))
        if (entry.path().filename() != "f.mat" && entry.path().filename() != "f.mat.png") {
            std::fprintf(stderr, "left behind: %s\n", entry.path().c_str());
            std::abort();
        }
    fs::current_path(home);
    return 0;
}
