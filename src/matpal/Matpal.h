#pragma once

// matpal's command line: export, import or make a palette; returns the exit status
// (0 done, 1 a file could not be read or written, 64 a wrong command line).
int runMatpal(int argc, char** argv);
