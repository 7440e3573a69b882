// The page's entry into the programs, called by web/worker.js over the module's virtual files.
#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "driver/ItemRecords.h"
#include "driver/RunOptions.h"
#include "driver/WorkItem.h"
#include "fs/Error.h"
#include "fs/ReadError.h"
#include "iff/FormatError.h"
#include "mat/MatReader.h"
#include "mat/PaletteLookup.h"
#include "mat2png/Mat2Png.h"
#include "matpal/Matpal.h"
#include "png2mat/Png2Mat.h"

namespace {

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A JSON array of `values`, each already JSON.
std::string jsonArray(const std::vector<std::string>& values) {
    std::string out = "[";
    for (const std::string& value : values) out += (out.size() > 1 ? "," : "") + value;
    return out + "]";
}

std::string jsonList(const std::vector<std::string>& texts) {
    std::vector<std::string> values;
    for (const std::string& text : texts) values.push_back(jsonText(text));
    return jsonArray(values);
}

ItemRecords records;

int runNamed(const std::string& program, int argc, char** argv) {
    if (program == "mat2png") {
        const Mat2Png mat2png;
        return runProgram(argc, argv, mat2png.program(), &records);
    }
    if (program == "png2mat") {
        const Png2Mat png2mat;
        return runProgram(argc, argv, png2mat.program(), &records);
    }
    if (program == "matpal") return runMatpal(argc, argv);
    std::fprintf(stderr, "no program named '%s'\n", program.c_str());
    return 64;
}

std::string described;
std::string recorded;

// The words packed one after another in `packed`, each ended by a NUL.
std::vector<std::string> unpack(const char* packed, int count) {
    std::vector<std::string> words;
    for (int n = 0; n < count; ++n) {
        words.emplace_back(packed);
        packed += words.back().size() + 1;
    }
    return words;
}

}  // namespace

extern "C" {

// Runs `program` with the `count` arguments packed one after another in `packed`, each ended by a NUL,
// in the current directory; returns its exit status.
int web_run(const char* program, const char* packed, int count) {
    std::vector<std::string> words{program};
    for (std::string& word : unpack(packed, count)) words.push_back(std::move(word));
    records.clear();
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int status;
    try {
        status = runNamed(program, static_cast<int>(words.size()), argv.data());
    } catch (...) {
        // what no file's conversion caught: the run fails as the command line would, and the page goes on
        std::fprintf(stderr, "%s: %s\n", program, reasonOf(std::current_exception()).c_str());
        status = 1;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

// The outline of the MAT file at `path` as JSON: {"width", "height", "type", "palette"}, the palette
// {"embedded": true} or {"name", "file"} with file the path found as a run with the file as its operand finds
// it, or null; {"error": REASON} when the file cannot be read.
const char* web_describe(const char* path) {
    try {
        MatReader mat(path);
        if (mat.isAnim()) throw FormatError("an animation (FORM ANIM), which is not converted");
        const std::int32_t width = mat.width(), height = mat.height(), type = mat.type();
        const MatReader::Outline outline = mat.outline();
        std::string palette = "{\"embedded\":true}";
        if (!outline.palette.empty()) {
            RunOptions run;
            run.operands = {path};
            std::string found = "null";
            // looked up as a conversion looks it up; with one folder, find names the path even when it is missing
            try {
                const std::string file = PaletteLookup(paletteFolders(run, folderPrefix(path))).find(outline.palette);
                struct stat st;
                if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) found = jsonText(file);
            } catch (const ReadError&) {
                // no folder holds it
            }
            palette = "{\"name\":" + jsonText(outline.palette) + ",\"file\":" + found + "}";
        }
        described = "{\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height) +
                    ",\"type\":" + std::to_string(type) + ",\"palette\":" + palette + "}";
    } catch (...) {
        described = "{\"error\":" + jsonText(reasonOf(std::current_exception())) + "}";
    }
    return described.c_str();
}
// What became of each file the last run took up, as JSON: [{"name", "outcome", "reason", "notes", "outputs"}].
const char* web_records() {
    std::vector<std::string> values;
    for (const ItemRecords::Record& record : records.records())
        values.push_back("{\"name\":" + jsonText(record.name) + ",\"outcome\":" + jsonText(record.outcome) +
                         ",\"reason\":" + (record.reason ? jsonText(*record.reason) : "null") + ",\"notes\":" + jsonList(record.notes) +
                         ",\"outputs\":" + jsonList(record.outputs) + "}");
    recorded = jsonArray(values);
    return recorded.c_str();
}

// What png2mat makes of the `count` image names packed in `packed`, all in one folder, with its outputs going to
// `output` (a prefix: "mat/", "" for the working directory), as JSON: for each, {"name", "image": whether a folder
// operand takes it as an image (an alpha image beside its colour image is not one), "mat": the MAT file it
// rebuilds or creates, "alpha": its alpha image, "colour": null, or for an alpha image's name the colour image it
// belongs to and that image's MAT file, {"name", "mat"}}.
const char* web_images(const char* packed, int count, const char* output) {
    const std::vector<std::string> names = unpack(packed, count);
    const std::set<std::string> present(names.begin(), names.end());
    std::vector<std::string> values;
    for (const std::string& name : names) {
        const Png2Mat::Target target = Png2Mat::targetOf(name, output);
        const std::string owner = Png2Mat::alphaOwner(name);
        const std::string colour = owner.empty() ? "null"
                                                 : "{\"name\":" + jsonText(owner) + ",\"mat\":" + jsonText(Png2Mat::targetOf(owner, output).mat) + "}";
        values.push_back("{\"name\":" + jsonText(name) + ",\"image\":" + (owner.empty() || !present.count(owner) ? "true" : "false") +
                         ",\"mat\":" + jsonText(target.mat) + ",\"alpha\":" + jsonText(target.alpha) + ",\"colour\":" + colour + "}");
    }
    recorded = jsonArray(values);
    return recorded.c_str();
}
}
