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

namespace {

// "PROGRAM: TEXT" on standard error, for a run refused before it starts; returns the usage error's exit status.
int refuse(const Program& program, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", program.name, terminalText(text).c_str());
    return usageError;
}

// The system's complaint about a folder named on the command line, or nothing when it is one.
std::string folderProblem(const char* folder) {
    struct stat st;
    if (::stat(folder, &st) != 0) return std::string(folder) + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::string(folder) + ": " + std::strerror(ENOTDIR);
    return {};
}

}  // namespace

int runProgram(int argc, char** argv, const Program& program) {
    const CommandLine line(argc, argv, program);
    if (line.status) return *line.status;
    const RunOptions& run = line.options;
    if (run.directory && ::chdir(run.directory) != 0) return refuse(program, std::string(run.directory) + ": " + std::strerror(errno));
    // the folders named are taken in the directory entered, as the operands are
    if (run.output && !folderProblem(run.output).empty()) return refuse(program, folderProblem(run.output));
    for (const std::string& folder : run.paletteDirs)
        if (!folderProblem(folder.c_str()).empty()) return refuse(program, folderProblem(folder.c_str()));
    int status = 0;
    const std::vector<WorkItem> items = listItems(program, run, status);
    if (!run.operands.empty()) {
        const std::string collision = findCollision(program, run, items);
        if (!collision.empty()) return refuse(program, collision);
    }
    if (program.prepare) {
        const Program::Complaint complaint = program.prepare(items, run);
        if (!complaint.text.empty()) return complaint.hint ? usage(program, complaint.text) : refuse(program, complaint.text);
    }
    installInterruptHandlers();
    return runBatch(program, run, items, status);
}
