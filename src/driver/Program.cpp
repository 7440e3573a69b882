#include "driver/Program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/Batch.h"
#include "driver/CommandLine.h"
#include "driver/Console.h"
#include "driver/Interrupts.h"
#include "driver/Items.h"
#include "fs/Error.h"

namespace {

// The system's complaint about a folder named on the command line, or nothing when it is one.
std::string folderProblem(const char* folder) {
    struct stat st;
    if (::stat(folder, &st) != 0) return std::string(folder) + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::string(folder) + ": " + std::strerror(ENOTDIR);
    return {};
}

}  // namespace

int runProgram(int argc, char** argv, const Program& program, ItemRecords* records) {
    const CommandLine line(argc, argv, program);
    if (line.status) return *line.status;
    RunOptions run = line.options;
    run.console.records = records;
    if (run.directory) {
        const std::string problem = enterDirectory(run.directory);
        if (!problem.empty()) return refuse(program.name, problem);
    }
    // the folders named are taken in the directory entered, as the operands are
    if (run.output && !folderProblem(run.output).empty()) return refuse(program.name, folderProblem(run.output));
    for (const std::string& folder : run.paletteDirs)
        if (!folderProblem(folder.c_str()).empty()) return refuse(program.name, folderProblem(folder.c_str()));
    int status = 0;
    const std::vector<WorkItem> items = listItems(program, run, status);
    if (!run.operands.empty()) {
        const std::string collision = findCollision(program, run, items);
        if (!collision.empty()) return refuse(program.name, collision);
    }
    if (program.prepare) {
        Program::Complaint complaint;
        try {
            complaint = program.prepare(items, run);
        } catch (...) {
            // nothing of the command line is wrong: the run could not start (out of memory)
            std::fprintf(stderr, "%s: %s\n", program.name, terminalText(reasonOf(std::current_exception())).c_str());
            return 1;
        }
        if (!complaint.text.empty()) return complaint.hint ? usage(program.name, complaint.text) : refuse(program.name, complaint.text);
    }
    installInterruptHandlers();
    return runBatch(program, run, items, status);
}
