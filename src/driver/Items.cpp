#include "driver/Items.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "driver/Console.h"
#include "fs/DirectorySearch.h"
#include "fs/FileSystem.h"

namespace {

// Where the outputs of `path` go: the -o folder, or the file's own.
std::string outputFolder(const RunOptions& run, const std::string& path) {
    if (!run.output) return folderPrefix(path);
    const std::string folder = run.output;
    return folder.back() == '/' ? folder : folder + "/";
}

// A key that is the same for two spellings of one file: its folder's identity, and its name.
class FileKeys {
public:
    std::string of(const std::string& path) {
        const std::string folder = folderPrefix(path);
        auto [at, added] = folders.try_emplace(folder);
        if (added) {
            const std::string key = folderKey(folder.empty() ? "." : folder);
            at->second = key.empty() ? "?" + folder : key + "/";
        }
        return at->second + nameKey(lastPart(path));
    }

private:
    std::map<std::string, std::string> folders;
};

}  // namespace

std::vector<WorkItem> listItems(const Program& program, const RunOptions& run, int& status) {
    std::vector<WorkItem> items;
    if (run.operands.empty()) {
        const DirectorySearch search("mat", program.suffixes);
        for (const std::string& name : search.names()) items.push_back(setItem(name));
        return items;
    }
    for (const std::string& operand : run.operands) {
        struct stat st;
        if (::stat(operand.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            // anything else is converted as a file, and its conversion says what is wrong with it
            items.push_back({operand, operand, outputFolder(run, operand)});
            continue;
        }
        const std::string prefix = operand.back() == '/' ? operand : operand + "/";
        const DirectorySearch search(operand, {program.folderSuffix});
        if (search.error()) {
            run.console.printDiagnostic(operand, std::strerror(search.error()));
            status = std::max(status, 1);
            continue;
        }
        const std::size_t before = items.size();
        for (const std::string& name : search.names()) {
            if (program.takes && !program.takes(prefix, name)) continue;
            items.push_back({prefix + name, prefix + name, outputFolder(run, prefix + name)});
        }
        if (items.size() == before) {
            run.console.printDiagnostic(operand, std::string("holds no ") + program.folderHolds);
            status = std::max(status, 2);
        }
    }
    return items;
}

std::string findCollision(const Program& program, const RunOptions& run, const std::vector<WorkItem>& items) {
    FileKeys keys;
    std::map<std::string, std::size_t> inputs;
    for (std::size_t i = 0; i < items.size(); ++i) inputs.emplace(keys.of(items[i].path), i);
    std::map<std::string, std::size_t> written;
    for (std::size_t i = 0; i < items.size(); ++i) {
        for (const std::string& output : program.outputs(items[i], run)) {
            const std::string key = keys.of(output);
            if (const auto input = inputs.find(key); input != inputs.end())
                return items[i].path + " would write over " + items[input->second].path + ", which is named to be read";
            const auto [at, added] = written.emplace(key, i);
            if (!added) return items[at->second].path + " and " + items[i].path + " would both write " + output;
        }
    }
    return {};
}
