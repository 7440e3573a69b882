#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "driver/Program.h"
#include "fs/WholeFile.h"
#include "mat/PalFile.h"
#include "mat/PaletteLookup.h"
#include "png2mat/ColourMapping.h"

// png2mat: every mat/NAME.mat rebuilt from its edited mat/NAME.mat.png, and with --palette a new
// MAT file for each image without one; or the same for the images named as operands. Holds what
// `prepare` works out of a run's options and what every file of the run shares, afresh for each run.
class Png2Mat {
public:
    Png2Mat();
    Png2Mat(const Png2Mat&) = delete;
    Png2Mat& operator=(const Png2Mat&) = delete;

    const Program& program() const { return definition; }

    // The file a failure is reported under, whose name a reason about the other one adds: the MAT
    // file in the set run, the image named as an operand.
    enum class Subject { mat, image };

    // The MAT file an image belongs to: X.mat in `folder` (a prefix, as WorkItem::folder), where X is the image's
    // name without ".png" and without a final ".mat"; its alpha image is X_alpha.png beside the image
    // (X.mat_alpha.png for X.mat.png), with the image's own suffix.
    struct Target {
        std::string mat, alpha;
    };
    static Target targetOf(const std::string& image, const std::string& folder);
    // The colour image whose alpha image `name` would be (X.png for X_alpha.png, the suffix as given), or empty:
    // a folder operand takes such a name as an image of its own only when that colour image is not beside it.
    static std::string alphaOwner(const std::string& name);

private:
    // What the command line asks of a run.
    struct Settings {
        MappingRules rules;
        std::optional<std::string> paletteName;  // --palette: new MAT files name it
        std::optional<std::int32_t> type;        // --type
        Backup backup = Backup::keep;            // --no-backup: none
        bool embedPalette = false;
    };

    // What the new MAT files of one folder share: the palette, the type, and the MAT files there by
    // their name in lower case, so that no new file differs from one only in case.
    struct NewFiles {
        std::optional<PalFile> palette;
        std::int32_t type = 0;
        std::map<std::string, std::string> matsByLowerName;
    };

    Program::Complaint prepare(const std::vector<WorkItem>& items, const RunOptions& run);
    // Whether a folder's commonest type is counted for new files: only when some will be made.
    enum class Types { unused, counted };

    // What the new files of `folder` share; raises what keeps it from being had (its palette).
    void prepareFolder(const std::string& folder, const RunOptions& run, Types types);
    void convert(const WorkItem& item, const RunOptions& run);
    void convertImage(const WorkItem& item, const RunOptions& run);
    Freshness freshness(const WorkItem& item, const RunOptions& run) const;
    void rebuildMat(const std::string& path, const std::string& imagename, const std::string& alphaname,
                    const PaletteLookup& palettes, Subject subject, const RunOptions& run);
    void createMat(const std::string& path, const std::string& imagename, const std::string& alphaname,
                   const std::string& folder, const RunOptions& run);

    Program definition;
    Settings settings;
    // what the new MAT files of each folder (as a prefix: "mat/") share, set before any file is converted
    std::map<std::string, NewFiles> newFiles;
    // taken by the threads that convert on Windows, for a folder prepared late
    std::mutex newFilesLock;
};
