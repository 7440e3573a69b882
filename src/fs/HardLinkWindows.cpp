#include "fs/HardLink.h"

#include <cerrno>

#include "fs/WidePath.h"

namespace {

bool succeeded(BOOL done) {
    if (!done) errno = errnoOf(::GetLastError());
    return done;
}

}  // namespace

// Windows renames over an existing name in one step when asked to replace it, and refuses the name otherwise.
bool renameOver(const char* from, const char* to) {
    return succeeded(::MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

bool renameNew(const char* from, const char* to) {
    return succeeded(::MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_WRITE_THROUGH));
}

// NTFS has hard links; a FAT drive has none, and a copy stands in for one there.
bool hardLink(const char* from, const char* to) {
    const std::wstring source = widePath(from), link = widePath(to);
    if (::CreateHardLinkW(link.c_str(), source.c_str(), nullptr)) return true;
    const DWORD code = ::GetLastError();
    if (code != ERROR_NOT_SUPPORTED && code != ERROR_INVALID_FUNCTION) return succeeded(FALSE);
    return succeeded(::CopyFileW(source.c_str(), link.c_str(), TRUE));
}
