#include "mat/SaveImage.h"

#include <IL/il.h>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include "mat/WriteError.h"

namespace {

// DevIL ignores write errors, so the callbacks record them here.
struct Output {
    const char* name;
    int fd;
    bool opened = false;
    bool failed = false;
    std::size_t used = 0;
    off_t flushed = 0;
    unsigned char buffer[1 << 16];
};

Output* current = nullptr;

void flush(Output& out) {
    std::size_t done = 0;
    while (done < out.used && !out.failed) {
        const ssize_t n = ::write(out.fd, out.buffer + done, out.used - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) out.failed = true;
        else done += static_cast<std::size_t>(n);
    }
    out.flushed += static_cast<off_t>(done);
    out.used = 0;
}

void append(Output& out, const unsigned char* data, std::size_t size) {
    while (size > 0 && !out.failed) {
        if (out.used == sizeof out.buffer) flush(out);
        const std::size_t step = std::min(size, sizeof out.buffer - out.used);
        std::memcpy(out.buffer + out.used, data, step);
        out.used += step;
        data += step;
        size -= step;
    }
}

ILHANDLE ILAPIENTRY openOutput(ILconst_string name) {
    // DevIL hands over the name given to ilSaveImage unchanged
    if (!current || current->opened || std::strcmp(name, current->name) != 0) return nullptr;
    current->opened = true;
    return current;
}

void ILAPIENTRY closeOutput(ILHANDLE handle) { flush(*static_cast<Output*>(handle)); }

ILint ILAPIENTRY putOutput(ILubyte byte, ILHANDLE handle) {
    append(*static_cast<Output*>(handle), &byte, 1);
    return byte;
}

ILint ILAPIENTRY writeOutput(const void* data, ILuint size, ILuint count, ILHANDLE handle) {
    Output& out = *static_cast<Output*>(handle);
    append(out, static_cast<const unsigned char*>(data), std::size_t{size} * count);
    return out.failed ? 0 : static_cast<ILint>(count);
}

ILint ILAPIENTRY seekOutput(ILHANDLE handle, ILint offset, ILint origin) {
    Output& out = *static_cast<Output*>(handle);
    flush(out);
    const int whence = origin == IL_SEEK_SET ? SEEK_SET : origin == IL_SEEK_CUR ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(out.fd, offset, whence);
    if (at < 0) {
        out.failed = true;
        return -1;
    }
    out.flushed = at;
    return 0;
}

ILint ILAPIENTRY tellOutput(ILHANDLE handle) {
    const Output& out = *static_cast<Output*>(handle);
    return static_cast<ILint>(out.flushed + static_cast<off_t>(out.used));
}

std::string directoryOf(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

}  // namespace

void saveImage(const std::string& name) {
    static unsigned counter = 0;
    // the temporary name must end in ".png": DevIL picks the format from it
    static const std::string pid = std::to_string(::getpid());
    const std::string prefix = directoryOf(name) + ".mat2png-" + pid + "-";
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = prefix + std::to_string(counter++) + ".png";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && (errno != EEXIST || attempt == 100)) throw WriteError("cannot create a temporary file");
    }

    // the buffer is written before it is read; zeroing 64 KiB per image would cost more than a small image's encoding
    auto out = std::make_unique_for_overwrite<Output>();
    out->name = temp.c_str();
    out->fd = fd;
    current = out.get();
    ilSetWrite(openOutput, closeOutput, putOutput, seekOutput, tellOutput, writeOutput);
    const bool saved = ilSaveImage(temp.c_str()) == IL_TRUE;
    ilResetWrite();
    current = nullptr;
    flush(*out);
    const bool closed = ::close(fd) == 0;

    if (!saved || !out->opened || out->failed || !closed || ::rename(temp.c_str(), name.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw WriteError("cannot write the image");
    }
}
