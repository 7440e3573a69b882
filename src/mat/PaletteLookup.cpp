#include "mat/PaletteLookup.h"

#include <algorithm>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <map>

#include "fs/FileTime.h"
#include "iff/FormatError.h"

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

}  // namespace

std::string findPalette(std::string name) {
    const std::string original = name;
    std::replace(name.begin(), name.end(), '\\', '/');
    const std::string path = "pal/" + name + ".pal";
    if (escapesDirectory(name)) throw FormatError("the palette name \"" + original + "\" (" + path + ") leads out of pal/");
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) return path;

    // the names come from a platform whose file names ignore case
    const std::size_t slash = path.rfind('/');
    const std::string directory = path.substr(0, slash);
    const std::string wanted = path.substr(slash + 1);
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return path;
    std::string best;
    while (const dirent* entry = ::readdir(dir)) {
        // the smallest match keeps the choice independent of the directory order
        if (::strcasecmp(entry->d_name, wanted.c_str()) == 0 && (best.empty() || entry->d_name < best))
            best = entry->d_name;
    }
    ::closedir(dir);
    return best.empty() ? path : directory + "/" + best;
}

const PaletteStamp& paletteStamp(const std::string& name) {
    static std::map<std::string, PaletteStamp> stamps;
    const auto [at, added] = stamps.try_emplace(name);
    if (added) at->second.found = modifiedTime(findPalette(name), at->second.time);
    return at->second;
}
