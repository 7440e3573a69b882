#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "driver/Program.h"
#include "mat/PalFile.h"
#include "png2mat/ColourMapping.h"

// png2mat: every mat/NAME.mat rebuilt from its edited mat/NAME.mat.png, and with --palette a new
// MAT file for each image without one. Holds its options and what every file of a run shares.
class Png2Mat {
public:
    Png2Mat();
    Png2Mat(const Png2Mat&) = delete;
    Png2Mat& operator=(const Png2Mat&) = delete;

    const Program& program() const { return definition; }

private:
    Program::Complaint prepare();
    void convert(const std::string& name, const RunOptions& run);
    Freshness freshness(const std::string& name) const;
    void rebuildMat(const std::string& path, const RunOptions& run);
    void createMat(const std::string& path);

    Program definition;
    // the command line
    MappingRules rules;
    std::optional<std::string> matchRule, paletteName, typeText;
    bool noBackup = false, embedPalette = false;
    // what every new MAT file shares, set once the directory is entered
    std::optional<PalFile> newPalette;
    std::int32_t newType = 0;
    // the MAT files in mat/ by their name in lower case, so that no new file differs from one only in case
    std::map<std::string, std::string> matsByLowerName;
};
