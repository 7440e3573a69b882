#include <windows.h>

#include <sys/ioctl.h>

#include <cerrno>
#include <string>

#include "fs/WidePath.h"

namespace {

// the FILETIME of 1970-01-01, in 100 ns since 1601
constexpr unsigned long long unixEpoch = 116444736000000000ULL;

// Sets the times of an open file; UTIME_OMIT leaves one as it is.
int setTimes(HANDLE file, const timespec times[2]) {
    FILETIME access = times[0].tv_nsec == UTIME_OMIT ? FILETIME{} : fileTimeOf(times[0]);
    FILETIME modified = times[1].tv_nsec == UTIME_OMIT ? FILETIME{} : fileTimeOf(times[1]);
    if (::SetFileTime(file, nullptr, times[0].tv_nsec == UTIME_OMIT ? nullptr : &access,
                      times[1].tv_nsec == UTIME_OMIT ? nullptr : &modified))
        return 0;
    errno = errnoOf(::GetLastError());
    return -1;
}

}  // namespace

std::wstring widePath(const char* path) {
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), size);
    wide.pop_back();
    return wide;
}

int errnoOf(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    default:
        return EIO;
    }
}

FILETIME fileTimeOf(const timespec& time) {
    const unsigned long long ticks = unixEpoch + static_cast<unsigned long long>(time.tv_sec) * 10000000ULL +
                                     static_cast<unsigned long long>(time.tv_nsec) / 100;
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

timespec timespecOf(const FILETIME& time) {
    const unsigned long long ticks = (static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime) - unixEpoch;
    return {static_cast<time_t>(ticks / 10000000ULL), static_cast<long>(ticks % 10000000ULL * 100)};
}

int futimens(int fd, const timespec times[2]) {
    const HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (file == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    return setTimes(file, times);
}

int utimensat(int, const char* path, const timespec times[2], int) {
    const HANDLE file = ::CreateFileW(widePath(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errnoOf(::GetLastError());
        return -1;
    }
    const int result = setTimes(file, times);
    ::CloseHandle(file);
    return result;
}

int ioctl(int fd, unsigned long request, winsize* size) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (request != TIOCGWINSZ || !::GetConsoleScreenBufferInfo(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), &info)) {
        errno = ENOTTY;
        return -1;
    }
    *size = {static_cast<unsigned short>(info.srWindow.Bottom - info.srWindow.Top + 1),
             static_cast<unsigned short>(info.srWindow.Right - info.srWindow.Left + 1), 0, 0};
    return 0;
}
