// The flash-directory reader over any bytes where the directory should be: counted, read into a
// buffer of the counted size and into one a byte too small.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_files.h"
#include "korv/mtd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *path = "/tmp/fuzz.fis";
    if (!korvfuzz::write_file(path, std::string(reinterpret_cast<const char *>(data), size)))
        return 0;
    int freeOffset = -1;
    int count = KORVMTDGetPartitionInfo(path, nullptr, 0, &freeOffset);
    if (count < 0)
        return 0;
    if (freeOffset != count * KORV_MTD_FIS_ENTRY_SIZE)
        abort();
    std::vector<KORVMTDFISENTRY> entries(static_cast<size_t>(count) + 1);
    const int room = count * KORV_MTD_FIS_ENTRY_SIZE;
    if (KORVMTDGetPartitionInfo(path, entries.data(), room > 0 ? room : KORV_MTD_FIS_ENTRY_SIZE, &freeOffset) != count)
        abort();
    if (count > 0 && KORVMTDGetPartitionInfo(path, entries.data(), room - 1, &freeOffset) != -1)
        abort();
    return 0;
}
