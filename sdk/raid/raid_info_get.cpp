// One record of an md array's level, sizes, members, rebuild progress and health.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "korv/platform.h"
#include "korv/raid.h"
#include "korv_internal.h"
#include "raid_internal.h"
#include "korv_plat_fd.h"

namespace {

struct InfoDeleter {
    void operator()(KORVRAIDINFO *info) const { KORVRaidInfoFree(info); }
};

int LevelCode(int mdLevel)
{
    switch (mdLevel) {
    case -1: return KORV_RAID_LEVEL_LINEAR;
    case 0: return KORV_RAID_LEVEL_0;
    case 1: return KORV_RAID_LEVEL_1;
    case 5: return KORV_RAID_LEVEL_5;
    case 6: return KORV_RAID_LEVEL_6;
    default: return KORV_RAID_LEVEL_UNKNOWN;
    }
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

extern "C" void KORVRaidInfoFree(KORVRAIDINFO *info)
{
    if (!info)
        return;
    KORVRaidDiskListFree(info->disks);
    free(info);
}

extern "C" int KORVRaidInfoGet(const char *mdPath, KORVRAIDINFO **info)
{
    if (!mdPath || !info) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    int md = 0;
    if (korv::raid::MdIndex(mdPath, &md) != 0)
        return -1;
    std::unique_ptr<KORVRAIDINFO, InfoDeleter> record(static_cast<KORVRAIDINFO *>(calloc(1, sizeof(KORVRAIDINFO))));
    if (!record) {
        KORV_LOG_DEBUG("Failed to calloc, errno=%m");
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    record->mdIndex = md;
    snprintf(record->szPath, sizeof record->szPath, "%s", mdPath);

    korv::PlatFd dev(korv_plat_open(record->szPath, O_RDONLY));
    if (!dev) {
        KORV_LOG_DEBUG("Failed to open %s, errno=%m", record->szPath);
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    KORVMDARRAYINFO array{};
    if (KORVRaidIoctlInfo(dev.get(), &array) != 0) {
        if (KORLErrGet() == KORL_ERR_NO_DEVICE)
            return 0;  // no such array
        KORV_LOG_DEBUG("Failed to ioctl for raid status, errno=0X%X", KORLErrGet());
        return -1;
    }
    record->level = LevelCode(array.level);
    if (record->level == KORV_RAID_LEVEL_UNKNOWN)
        KORV_LOG_DEBUG("Not supported RAID level: %d", array.level);
    record->arrayBytes = int64_t{array.sizeKiB} * 1024;
    record->raidDisks = array.raidDisks;

    if (KORVRaidIoctlSize(dev.get(), &record->sizeBytes) != 0) {
        KORV_LOG_DEBUG("Failed to ioctl for raid size, errno=0X%X", KORLErrGet());
        return -1;
    }
    if (KORVRaidDiskListGet(mdPath, &record->disks) != 0) {
        KORV_LOG_DEBUG("Failed to get disk list for /dev/md%d, errno=0X%X", md, KORLErrGet());
        return -1;
    }
    record->diskLetter = -1;
    if (const KORVRAIDDISK *first = record->disks) {
        const char *p = first->path;
        if (strncmp(p, "/dev/sd", 7) == 0 && strlen(p) == 9 && IsLetter(p[7]) && IsLetter(p[8]))
            record->diskLetter = p[7] - 'a';
    }
    if (KORVRaidRebuildStatusGet(dev.get(), &record->rebuild) != 0) {
        KORV_LOG_DEBUG("Failed to get rebuild status for /dev/md%d, errno=0X%X", md, KORLErrGet());
        return -1;
    }
    if (KORVRaidDecideStatus(&array, record->disks, &record->status) != 0) {
        KORV_LOG_DEBUG("Failed to decide raid status for /dev/md%d, errno=0X%X", md, KORLErrGet());
        return -1;
    }
    *info = record.release();
    return 1;
}
