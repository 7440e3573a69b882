#include <malloc.h>

#include "driver/Batch.h"

int main() {
    // every file allocates and frees the same encoder state; keeping freed memory spares the
    // system calls and page faults of handing it back and taking it again for each file
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    return runBatch();
}
