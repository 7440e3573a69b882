#include "fs/WholeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fs/FileSync.h"
#include "fs/FileSystem.h"
#include "fs/HardLink.h"
#include "fs/InterruptGuard.h"
#include "fs/TempFile.h"
#include "fs/WriteAll.h"
#include "fs/WriteError.h"

namespace {

// Keeps the current file as path.bak through a hard link, so that path always holds a whole file.
// Called with the interrupt signals held back, so that no link is left behind between the two steps.
void backUp(const std::string& path, const char* program) {
    const std::string backup = path + ".bak";
    const std::string link = temporaryName(path, "bak", program);
    if (syncFileNamed(path) && hardLink(path.c_str(), link.c_str()) && renameOver(link.c_str(), backup.c_str())) return;
    const int error = errno;
    ::unlink(link.c_str());
    throw WriteError("cannot keep " + path + " as " + backup + ": " + std::strerror(error));
}

}  // namespace

bool holdsBytes(const std::string& path, const std::vector<std::uint8_t>& bytes, const struct stat& st) {
    if (static_cast<std::uint64_t>(st.st_size) != bytes.size()) return false;
    const int fd = openForReading(path.c_str());
    if (fd < 0) return false;
    std::vector<std::uint8_t> current(bytes.size());
    std::size_t done = 0;
    for (ssize_t n; done < current.size() && (n = ::read(fd, current.data() + done, current.size() - done)) > 0;)
        done += static_cast<std::size_t>(n);
    ::close(fd);
    return done == current.size() && current == bytes;
}

void writeWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes, const struct stat* old,
                    Backup backup, const char* program) {
    TempFile file(path, "tmp", program);
    int error = writeAll(file.fd(), bytes.data(), bytes.size());
    if (!error && old && S_ISREG(old->st_mode) && ::fchmod(file.fd(), old->st_mode & 07777) != 0) error = errno;
    // on the disk before it takes the name, and the name after: a crash leaves the old file or the new one, whole
    if (!error && !syncFile(file.fd())) error = errno;
    if (error) file.fail(error);
    if (!old) {
        file.commit(nullptr, TempFile::Existing::keep);
    } else {
        // an interrupt between the two would leave a backup of a file that was never replaced
        InterruptGuard guard;
        if (backup == Backup::keep && !error) backUp(path, program);
        file.commit();
    }
    if (!syncFolderOf(path)) throw WriteError("cannot write " + path + ": " + std::strerror(errno));
}
