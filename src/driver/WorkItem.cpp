#include "driver/WorkItem.h"

#include <algorithm>
#include <filesystem>

WorkItem setItem(const std::string& name) { return {name, "mat/" + name, "mat/"}; }

std::string folderPrefix(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string lastPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> paletteFolders(const RunOptions& run, const std::string& prefix) {
    std::vector<std::string> folders = run.paletteDirs;
    const auto add = [&folders](const std::string& folder) {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    };
    if (!run.operands.empty()) {
        // lexically, as the user sees the path: set/mat/a.mat has its set's pal/ in set/pal
        const std::filesystem::path own = std::filesystem::path(prefix.empty() ? "." : prefix).lexically_normal();
        const std::string beside = (own / ".." / "pal").lexically_normal().generic_string();
        std::string folder = own.generic_string();
        if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        add(beside.size() > 1 && beside.back() == '/' ? beside.substr(0, beside.size() - 1) : beside);
        add(folder);
    }
    add("pal");
    return folders;
}
