#include "driver/Batch.h"

int main() { return runBatch(); }
