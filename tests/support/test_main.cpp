// Test programs run only inside the device sandbox: the code under test uses the device's
// absolute paths, so outside it they would touch the host's own files.
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "sandbox_guard.h"

namespace {

constexpr size_t kHeapRoom = 64u << 20;
constexpr uintptr_t kHugePage = 2u << 20;

}  // namespace

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
    // The heap grows once by a room those fit in, taken in huge pages where the kernel offers
    // them: one fault per 2 MiB instead of one per page.
    uintptr_t start = reinterpret_cast<uintptr_t>(sbrk(0));
    void *volatile room = malloc(kHeapRoom);  // volatile: the pair is not optimised away
    free(room);
    uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0));
    uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (end > from)
        madvise(reinterpret_cast<void *>(from), (end - from) & ~(kHugePage - 1), MADV_HUGEPAGE);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
