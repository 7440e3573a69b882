// libFuzzer target: one input is a MAT file, optionally followed by the
// separator "\n--pal--\n" and the bytes of pal/p.pal (the file that NAME "p" or
// "P" finds); the real per-file conversion runs on them in a scratch directory,
// once writing RGB and once indexed (--indexed).

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "Scratch.h"
#include "driver/Batch.h"
#include "mat2png/Mat2Png.h"

namespace fs = std::filesystem;
using fuzz::scratch;
using fuzz::write;

namespace {

constexpr std::string_view separator = "\n--pal--\n";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::makeScratch("mat2png");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // only the conversion runs in the scratch directory: libFuzzer's own paths stay relative to where it started
    const fs::path home = fs::current_path();
    fs::current_path(scratch);
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find(separator);
    write("mat/f.mat", input.substr(0, split));
    if (split == std::string_view::npos) fs::remove("pal/p.pal");
    else write("pal/p.pal", input.substr(split + separator.size()));

    for (const bool indexed : {false, true}) {
        RunOptions run;
        run.console.diagnostics = fuzz::reasons;
        if (indexed) run.given["indexed"] = "";
        processFile(Mat2Png().program(), run, setItem("f.mat"));
        // outputs are removed so that every run starts alike; anything else left in mat/ is a leaked temporary file
        fs::remove("mat/f.mat.png");
        fs::remove("mat/f.mat_alpha.png");
        for (const fs::directory_entry& entry : fs::directory_iterator("mat"))
            if (entry.path().filename() != "f.mat") {
                std::fprintf(stderr, "left behind: %s\n", entry.path().c_str());
                std::abort();
            }
    }
    fs::current_path(home);
    return 0;
}
