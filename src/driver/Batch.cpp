#include "driver/Batch.h"

#include <cstdio>
#include <memory>

#include "driver/DirectorySearch.h"
#include "iff/FileNotFoundException.h"
#include "mat/MatFile.h"
#include "mat/PrintLine.h"

bool processFile(std::string name) {
    const std::string path = "mat/" + name;
    try {
        MatFile file(path);
        return true;
    } catch (FileNotFoundException* error) {
        // released here so that a batch of missing files does not pile them up
        delete error;
    } catch (...) {
    }
    printLine("Could not process ", name);
    return false;
}

int runBatch() {
    DirectorySearch search("mat", ".mat");
    std::optional<std::string> name = search.findFirst();
    if (!name) {
        std::printf("No *.iff files in current directory!\n");
        return 2;
    }
    bool failed = false;
    for (; name; name = search.findNext()) failed |= !processFile(*name);
    return failed ? 1 : 0;
}
