#include "matpal/Matpal.h"

int main(int argc, char** argv) { return runMatpal(argc, argv); }
