#include "driver/Platform.h"
#include "matpal/Matpal.h"

int main(int argc, char** argv) {
    prepareProcess(argc, argv);
    return runMatpal(argc, argv);
}
