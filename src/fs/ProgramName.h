#pragma once

// The program's name in diagnostics and in its temporary files' names, set once by its entry point.
extern const char* programName;
