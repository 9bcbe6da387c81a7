// korv-flashls: lists the flash directory through the library, as the updater reads it.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "korv/mtd.h"
#include "korv_flash_records.h"
#include "sandbox_guard.h"

int main(int argc, char **argv)
{
    if (argc > 2) {
        fprintf(stderr, "usage: %s [/dev/mtdN]\n", argv[0]);
        return 2;
    }
    if (!korv_inside_sandbox()) {
        fprintf(stderr, "%s: refusing to run outside the device sandbox\n", argv[0]);
        return 2;
    }
    // The 8-partition layout keeps its directory on /dev/mtd7, the junior one on /dev/mtd5.
    const char *device = argc == 2 ? argv[1] : (access("/dev/mtd7", F_OK) == 0 ? "/dev/mtd7" : "/dev/mtd5");

    uint8_t raw[korv::flash::kMtdInfoSize];
    if (KORVMTDGetDeviceInfo(device, raw, sizeof raw) != 0) {
        fprintf(stderr, "%s: cannot read the MTD information of %s\n", argv[0], device);
        return 1;
    }
    korv::flash::MtdInfo info = korv::flash::UnpackMtdInfo(raw);
    printf("%s: size 0x%08X, erase block 0x%08X\n", device, info.size, info.erase_size);

    int freeOffset = 0;
    if (KORVMTDGetPartitionInfo(device, nullptr, 0, &freeOffset) < 0) {
        fprintf(stderr, "%s: cannot read the flash directory on %s\n", argv[0], device);
        return 1;
    }
    std::vector<KORVMTDFISENTRY> entries(static_cast<size_t>(freeOffset) / sizeof(KORVMTDFISENTRY) + 1);
    int n = KORVMTDGetPartitionInfo(device, entries.data(), freeOffset, &freeOffset);
    if (n < 0) {
        fprintf(stderr, "%s: cannot read the flash directory on %s\n", argv[0], device);
        return 1;
    }
    printf("number of partitions = [%d]\n", n);
    printf("%-16s %-10s  %-10s  %-10s\n", "name", "flash_base", "size", "data_length");
    for (int i = 0; i < n; ++i) {
        const KORVMTDFISENTRY &e = entries[static_cast<size_t>(i)];
        printf("%-16.16s 0x%08X  0x%08X  0x%08X\n", e.name, e.flash_base, e.size, e.data_length);
    }
    return 0;
}
