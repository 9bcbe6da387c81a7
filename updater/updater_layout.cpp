// The two flash layouts: the partitions of the plan in table order and their MTD devices.
#include <string.h>

#include "updater.h"

namespace {

const UPDTPATCHINFO kJuniorPatchInfo[] = {
    {"RedBoot", "RedBoot.msys", 0, 0, 0, 0, 0, 0},
    {"zImage", "zImage", 0, 0, 0, 0, 0, 0},
    {"rd.gz", "rd.bin", 0, 0, 0, 0, 0, 0},
    {"vendor", "vendor", 0, 0, 0, 0, 0, 0},
    {"RedBoot Config", "RedBoot Config", 0, 0, 0, 0, 0, 0},
    {"FIS Directory", "FIS Directory", 0, 0, 0, 0, 0, 0},
};

const UPDTDEVICEMAP kJuniorDevMap[] = {
    {"RedBoot", "/dev/mtd0"},        {"zImage", "/dev/mtd1"},         {"rd.gz", "/dev/mtd2"},
    {"vendor", "/dev/mtd3"},         {"RedBoot Config", "/dev/mtd4"}, {"FIS Directory", "/dev/mtd5"},
};

const UPDTPATCHINFO kPatchInfo[] = {
    {"RedBoot", "RedBoot.msys", 0, 0, 0, 0, 0, 0},
    {"zImage", "zImage", 0, 0, 0, 0, 0, 0},
    {"rd.gz", "rd.bin", 0, 0, 0, 0, 0, 0},
    {"AllLib.tgz", "AllLib.tgz", 0, 0, 0, 0, 0, 0},
    {"vendor", "vendor", 0, 0, 0, 0, 0, 0},
    {"korvcfg", "korvcfg", 0, 0, 0, 0, 0, 0},
    {"RedBoot Config", "RedBoot Config", 0, 0, 0, 0, 0, 0},
    {"FIS Directory", "FIS Directory", 0, 0, 0, 0, 0, 0},
};

const UPDTDEVICEMAP kDevMap[] = {
    {"RedBoot", "/dev/mtd0"}, {"zImage", "/dev/mtd1"},  {"rd.gz", "/dev/mtd2"},
    {"AllLib.tgz", "/dev/mtd3"}, {"vendor", "/dev/mtd4"}, {"korvcfg", "/dev/mtd5"},
    {"RedBoot Config", "/dev/mtd6"}, {"FIS Directory", "/dev/mtd7"},
};

template <size_t N>
void Copy(const UPDTPATCHINFO (&patch)[N], const UPDTDEVICEMAP (&map)[N], const char *directory)
{
    static_assert(N <= UPDT_MAX_PARTITIONS);
    memset(gPatchInfo, 0, sizeof gPatchInfo);
    memset(gDevMap, 0, sizeof gDevMap);
    memcpy(gPatchInfo, patch, sizeof patch);
    memcpy(gDevMap, map, sizeof map);
    gnPartition = static_cast<int>(N);
    strcpy(gszDevMtdPartition, directory);
}

}  // namespace

void UPDTChooseLayout(int junior)
{
    if (junior)
        Copy(kJuniorPatchInfo, kJuniorDevMap, "/dev/mtd5");
    else
        Copy(kPatchInfo, kDevMap, "/dev/mtd7");
}
