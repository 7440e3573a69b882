#include "fs/FileSync.h"

#include <cerrno>

#include "fs/WidePath.h"

bool syncFile(int fd) {
    if (::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)))) return true;
    errno = errnoOf(::GetLastError());
    return false;
}

bool syncFileNamed(const std::string& path) {
    const std::wstring name = widePath(path.c_str());
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    // flushing takes write access; what cannot be opened for it (read-only, held by another program) is left to the link
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    const bool synced = ::FlushFileBuffers(file);
    if (!synced) errno = errnoOf(::GetLastError());
    ::CloseHandle(file);
    return synced;
}

// Windows has no flush of a folder (NTFS journals the rename itself), as Linux file systems that
// refuse fsync on one (EINVAL)
bool syncFolderOf(const std::string&) { return true; }
