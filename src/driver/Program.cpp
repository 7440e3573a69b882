#include "driver/Program.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/Batch.h"
#include "driver/CommandLine.h"
#include "driver/Console.h"
#include "driver/Interrupts.h"
#include "fs/ProgramName.h"

int runProgram(int argc, char** argv, const Program& program) {
    programName = program.name;
    const CommandLine line(argc, argv, program);
    if (line.status) return *line.status;
    const RunOptions& run = line.options;
    if (run.directory && ::chdir(run.directory) != 0) {
        std::fprintf(stderr, "%s: %s: %s\n", program.name, terminalText(run.directory).c_str(), std::strerror(errno));
        return usageError;
    }
    if (program.prepare) {
        const Program::Complaint complaint = program.prepare();
        if (!complaint.text.empty()) {
            if (complaint.hint) return usage(program, complaint.text);
            std::fprintf(stderr, "%s: %s\n", program.name, terminalText(complaint.text).c_str());
            return usageError;
        }
    }
    setQuiet(run.quiet);
    installInterruptHandlers();
    return runBatch(program, run);
}
