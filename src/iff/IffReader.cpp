#include "iff/IffReader.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "iff/FileNotFoundException.h"
#include "iff/FormatError.h"
#include "iff/IllegalOperation.h"

namespace {

std::FILE* openRegularFile(const std::string& path, std::uint64_t& size) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below anyway, and reads of a
    // regular file ignore it
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return file;
}

std::uint32_t bigEndian(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace

IffReader::IffReader(const std::string& path) {
    file = openRegularFile(path, filesize);
    if (!file) throw new FileNotFoundException();
    readHeader();
}

IffReader::~IffReader() { close(); }

void IffReader::close() {
    if (file) std::fclose(file);
    file = nullptr;
}

void IffReader::readHeader() {
    unsigned char header[8];
    // the size taken at the open tells the end of the file without one more read
    if (position + sizeof header > filesize) {
        atend = true;
        return;
    }
    const std::size_t got = std::fread(header, 1, sizeof header, file);
    position += got;
    if (got < sizeof header) {
        atend = true;
        return;
    }
    std::memcpy(id, header, 4);
    const std::uint32_t declared = bigEndian(header + 4);
    length = declared;
    badsize = declared > 0x7FFFFFFFu;
    if (isForm()) {
        const std::size_t typegot = std::fread(formtype, 1, 4, file);
        position += typegot;
        if (typegot < 4) {
            atend = true;
            return;
        }
        badsize = badsize || declared < 4;
        length -= 4;
    }
}

bool IffReader::isForm() const { return std::strcmp(id, "FORM") == 0; }

void IffReader::requireHeader() const {
    if (!file) throw FormatError("reader is closed");
    if (atend) throw FormatError("end of file");
    if (badsize) throw FormatError("chunk size out of range");
}

void IffReader::requireChunk(bool form) const {
    requireHeader();
    if (isForm() != form) throw IllegalOperation();
}

std::string IffReader::chunkName() const {
    requireChunk(false);
    return id;
}

std::string IffReader::formType() const {
    requireChunk(true);
    return formtype;
}

std::int32_t IffReader::chunkIdAsInt() const {
    requireChunk(false);
    std::int32_t value;
    std::memcpy(&value, id, 4);
    return value;
}

void IffReader::enterForm() {
    requireChunk(true);
    readHeader();
}

std::uint64_t IffReader::checkedLength() const {
    const std::uint64_t content = static_cast<std::uint64_t>(length);
    if (content > remaining()) throw FormatError("chunk runs past the end of the file");
    return content;
}

void IffReader::skip() {
    requireHeader();
    const std::uint64_t content = checkedLength();
    // the pad byte after the file's last chunk may be missing
    const std::uint64_t step = std::min(content + (content & 1), remaining());
    if (std::fseek(file, static_cast<long>(step), SEEK_CUR) != 0) throw FormatError("seek failed");
    position += step;
    readHeader();
}

std::unique_ptr<Chunk> IffReader::readChunk() {
    requireChunk(false);
    // the bytes the file still holds bound the allocation
    const std::uint64_t content = checkedLength();
    const std::uint64_t padded = content + (content & 1);
    if (padded > 0x7FFFFFFFu) throw FormatError("chunk too large");
    auto payload = std::make_unique_for_overwrite<std::uint8_t[]>(padded ? padded : 1);
    const std::size_t got = std::fread(payload.get(), 1, padded, file);
    position += got;
    if (got < content) throw FormatError("short read");
    if (got < padded) payload[content] = 0;
    const std::string chunkid = id;
    readHeader();
    return std::make_unique<Chunk>(std::move(payload), static_cast<std::int32_t>(padded),
                                   static_cast<std::int32_t>(content), chunkid);
}
