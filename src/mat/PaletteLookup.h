#pragma once

#include <ctime>
#include <string>
#include <vector>

// The modification time of the palette file a name refers to (found false when there is no such file).
struct PaletteStamp {
    timespec time{};
    bool found = false;
};

// Where the palette files that MAT files name are looked for: folders in order, the first that holds
// the name wins. Inside each folder, "FOLDER/" + name + ".pal", a backslash being the original
// platform's separator; when the exact file is missing, a file in the same directory whose name
// matches ignoring case is taken instead. Names that would leave the folder raise Refusal.
class PaletteLookup {
public:
    explicit PaletteLookup(std::vector<std::string> folders = {"pal"});

    // The path of the palette file `name` refers to. With one folder, the path it would have there
    // when none exists (opening it then says why); with several, none holding it raises ReadError
    // naming the paths tried.
    std::string find(const std::string& name) const;
    // The stamp of the palette file `name` refers to.
    PaletteStamp stamp(const std::string& name) const;
    const std::vector<std::string>& folders() const { return places; }

private:
    std::vector<std::string> places;
};

// The path of the palette file `name` refers to under pal/ alone.
std::string findPalette(const std::string& name);
