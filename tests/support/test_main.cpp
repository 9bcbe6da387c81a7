// Test programs run only inside the device sandbox: the code under test uses the device's
// absolute paths, so outside it they would touch the host's own files.
#include <malloc.h>
#include <stdio.h>

#include <gtest/gtest.h>

#include "sandbox_guard.h"

int main(int argc, char **argv)
{
    if (!korv_inside_sandbox()) {
        fprintf(stderr,
                "%s: refusing to run outside the device sandbox; run it through "
                "scripts/sandbox or ctest (see README.md)\n",
                argv[0]);
        return 2;
    }
    // Flash pictures and images are megabytes each: keep freed ones in the heap, so that the
    // next one reuses its pages instead of faulting fresh ones in.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
