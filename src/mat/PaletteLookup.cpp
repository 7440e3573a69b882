#include "mat/PaletteLookup.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>

#include "fs/FileTime.h"
#include "fs/ReadError.h"
#include "fs/Refusal.h"

namespace {

bool escapesDirectory(const std::string& name) {
    if (name.empty()) return false;
    if (name.front() == '/') return true;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The file at `path` or, when it is missing, the smallest name in its directory that matches it ignoring case.
bool existing(std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) return true;
    // the names come from a platform whose file names ignore case
    const std::size_t slash = path.rfind('/');
    const std::string directory = path.substr(0, slash);
    const std::string wanted = path.substr(slash + 1);
    DIR* dir = ::opendir(directory.empty() ? "/" : directory.c_str());
    if (!dir) return false;
    std::string best;
    while (const dirent* entry = ::readdir(dir)) {
        // the smallest match keeps the choice independent of the directory order
        if (::strcasecmp(entry->d_name, wanted.c_str()) == 0 && (best.empty() || entry->d_name < best)) best = entry->d_name;
    }
    ::closedir(dir);
    if (best.empty()) return false;
    path = directory + "/" + best;
    return true;
}

}  // namespace

PaletteLookup::PaletteLookup(std::vector<std::string> folders) : places(std::move(folders)) {}

std::string PaletteLookup::find(const std::string& original) const {
    std::string name = original;
    std::replace(name.begin(), name.end(), '\\', '/');
    const std::string first = inFolder(places.front(), name + ".pal");
    if (escapesDirectory(name))
        throw Refusal("the palette name \"" + original + "\" (" + first + ") leads out of " + inFolder(places.front(), ""));
    std::string tried;
    for (const std::string& folder : places) {
        std::string path = inFolder(folder, name + ".pal");
        if (existing(path)) return path;
        tried += (tried.empty() ? "" : ", ") + path;
    }
    if (places.size() == 1) return first;
    throw ReadError("palette \"" + original + "\" not found: tried " + tried);
}

PaletteStamp PaletteLookup::stamp(const std::string& name) const {
    PaletteStamp stamp;
    try {
        stamp.found = modifiedTime(find(name), stamp.time);
    } catch (const Error&) {
        // not found, or leading out: the conversion reports it
    }
    return stamp;
}

std::string findPalette(const std::string& name) { return PaletteLookup().find(name); }
