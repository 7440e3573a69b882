#include "driver/ItemRecords.h"

#include <utility>

void ItemRecords::open(const std::string& name) {
    list.push_back({name, "", std::nullopt, {}, {}});
    isOpen = true;
}

void ItemRecords::failure(const std::string& reason) {
    if (isOpen) list.back().reason = reason;
}

void ItemRecords::note(const std::string& subject, const std::string& text) {
    if (!isOpen) return;
    Record& record = list.back();
    record.notes.push_back(subject == record.name ? text : subject + ": " + text);
}

void ItemRecords::close(const char* outcome, std::vector<std::string> outputs) {
    if (!isOpen) return;
    list.back().outcome = outcome;
    list.back().outputs = std::move(outputs);
    isOpen = false;
}

void ItemRecords::add(const std::string& name, const char* outcome) {
    list.push_back({name, outcome, std::nullopt, {}, {}});
    isOpen = false;
}

void ItemRecords::clear() {
    list.clear();
    isOpen = false;
}
