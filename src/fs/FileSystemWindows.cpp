#include "fs/FileSystem.h"

#include <cerrno>
#include <cctype>
#include <map>
#include <mutex>

#include "fs/TempFile.h"
#include "fs/WidePath.h"

namespace {

// the files being written, one per thread converting, which the console handler removes; it runs on
// a thread of its own, so a lock suffices
std::mutex pendingLock;
std::map<DWORD, std::wstring> pending;

}  // namespace

// the C library's stat keeps whole seconds, the same for every file the programs compare
timespec modifiedOf(const struct stat& st) { return {st.st_mtime, 0}; }

timespec changedOf(const struct stat& st) { return {st.st_ctime, 0}; }

namespace {

// A descriptor of the C library for a file opened by Windows' own call, which can say what it shares.
int openShared(const char* path, DWORD access, DWORD sharing, DWORD creation, int flags) {
    // a folder opens too, so that the caller finds it is one, as on Linux
    const HANDLE file = ::CreateFileW(widePath(path).c_str(), access, sharing, nullptr, creation,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errnoOf(::GetLastError());
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
    if (fd < 0) ::CloseHandle(file);
    return fd;
}

}  // namespace

// shared for deletion too: a MAT file being read is replaced, and kept as .bak, as on Linux
int openForReading(const char* path) {
    return openShared(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, _O_RDONLY);
}

int createNewFile(const char* path) {
    // shared for deletion, so that the console handler can remove it while another thread writes it
    return openShared(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, _O_WRONLY);
}

void setPendingFile(const char* path) {
    const std::lock_guard<std::mutex> hold(pendingLock);
    if (path) {
        pending[::GetCurrentThreadId()] = widePath(path);
    } else {
        pending.erase(::GetCurrentThreadId());
    }
}

void removePendingTempFile() {
    const std::lock_guard<std::mutex> hold(pendingLock);
    for (const auto& [thread, path] : pending) ::DeleteFileW(path.c_str());
}

void forgetPendingTempFile() {
    const std::lock_guard<std::mutex> hold(pendingLock);
    pending.clear();
}

std::string folderKey(const std::string& folder) {
    const HANDLE handle = ::CreateFileW(widePath(folder.c_str()).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(handle, &info);
    ::CloseHandle(handle);
    if (!known) return {};
    return std::to_string(info.dwVolumeSerialNumber) + ":" +
           std::to_string(static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow);
}

// Windows finds a file under its name in any case
std::string nameKey(const std::string& name) {
    std::string key = name;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}
