#include "driver/Program.h"
#include "png2mat/Png2Mat.h"

int main(int argc, char** argv) { return runProgram(argc, argv, png2mat); }
