#include <malloc.h>

#include "driver/Platform.h"
#include "png2mat/Png2Mat.h"

int main(int argc, char** argv) {
    prepareProcess(argc, argv);
    // every file takes and frees image-sized buffers; mapping and unmapping them for each file
    // would cost more system time than the decoding does
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    Png2Mat png2mat;
    return runProgram(argc, argv, png2mat.program());
}
