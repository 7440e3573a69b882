// processFile leaves no file descriptor open, whichever way a file fails.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <map>

#include "driver/Batch.h"
#include "mat2png/Mat2Png.h"
#include "support/Workdir.h"

using namespace iff;

namespace {

std::map<std::string, std::string> openDescriptors() {
    std::map<std::string, std::string> open;
    for (const fs::directory_entry& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;  // the iterator's own descriptor is closed by the time it is read
        open[e.path().filename()] = fs::read_symlink(e.path(), gone).string();
    }
    return open;
}

}  // namespace

TEST(Descriptors, NoneLeftOpenAfterAFailedFile) {
    Workdir w;
    const fs::path home = fs::current_path();
    fs::current_path(w.root);
    Bytes cut = Mat().bytes();
    cut.resize(cut.size() / 2);
    const Mat big{256, 256, 1, cmap(), noise(65536, 1), {}, {}};
    w.put("pal/bad.pal", paletteFile(Bytes(9, 1)));
    w.put("mat/palette-missing.mat", Mat{2, 2, 1, name("none"), {1, 2, 3, 4}, {}, {}}.bytes());
    w.put("mat/palette-short.mat", Mat{2, 2, 1, name("bad"), {1, 2, 3, 4}, {}, {}}.bytes());
    w.put("mat/truncated.mat", cut);
    w.put("mat/forged.mat", Mat{2, 2, 1, cmap(), {}, {}, {}}.bytes() + chunk("ALPH", {}, 0x7FFFFFF0));
    w.put("mat/output-taken.mat", Mat{2, 2, 1, cmap(), {1, 2, 3, 4}, Bytes(4, 0), {}}.bytes());
    fs::create_directory(w / "mat/output-taken.mat.png");
    w.put("mat/disk-full.mat", big.bytes());
    ASSERT_EQ(::mkfifo((w / "mat/fifo.mat").c_str(), 0600), 0);
    w.put("mat/good.mat", Mat().bytes());

    const Mat2Png mat2png;
    const RunOptions run;
    const auto before = openDescriptors();
    for (const char* name : {"palette-missing.mat", "palette-short.mat", "truncated.mat", "forged.mat", "output-taken.mat", "fifo.mat", "absent.mat"})
        EXPECT_EQ(processFile(mat2png.program(), run, setItem(name)), Processed::failed) << name;
    // a write limit of 8 KiB fails the image in the middle of its data
    struct rlimit limit {}, small {8192, 0};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    small.rlim_max = limit.rlim_max;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_EQ(processFile(mat2png.program(), run, setItem("disk-full.mat")), Processed::failed);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(processFile(mat2png.program(), run, setItem("good.mat")), Processed::done);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(w.entries("mat"), 11);  // the alpha image of output-taken and the good image: no temporary file
    fs::current_path(home);
}
