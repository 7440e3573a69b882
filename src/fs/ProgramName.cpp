#include "fs/ProgramName.h"

const char* programName = "mat2png";
