#pragma once

#include <optional>
#include <string>
#include <vector>

// What became of each file a run took up, for a caller that shows results instead of reading the console (the
// page). The driver makes them from its own decisions as it goes; nothing here reads a printed line.
class ItemRecords {
public:
    struct Record {
        std::string name;                   // the file as diagnostics name it ("mat/hero.mat")
        std::string outcome;                // "written", "failed", "passed over" or "up to date"
        std::optional<std::string> reason;  // a failure's reason, the text after "PROGRAM: NAME: " before escaping
        std::vector<std::string> notes;     // the other diagnostics printed for it: "TEXT", or "SUBJECT: TEXT" about another file
        std::vector<std::string> outputs;   // the paths written for it, in the order the program names its outputs
    };

    // A record for the file `name`, open until `close`.
    void open(const std::string& name);
    // A diagnostic printed while a record is open: its failure's reason, or a note.
    void failure(const std::string& reason);
    void note(const std::string& subject, const std::string& text);
    void close(const char* outcome, std::vector<std::string> outputs);
    // A record of a file decided on without converting it.
    void add(const std::string& name, const char* outcome);

    const std::vector<Record>& records() const { return list; }
    void clear();

private:
    std::vector<Record> list;
    bool isOpen = false;
};
