#include <malloc.h>

#include "driver/Platform.h"
#include "mat2png/Mat2Png.h"

int main(int argc, char** argv) {
    prepareProcess(argc, argv);
    // every file allocates and frees the same encoder state; keeping freed memory spares the
    // system calls and page faults of handing it back and taking it again for each file
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    Mat2Png mat2png;
    return runProgram(argc, argv, mat2png.program());
}
