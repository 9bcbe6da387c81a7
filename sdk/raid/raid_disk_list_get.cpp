// The member list of an md array, from its sysfs member directories.
#include <glob.h>
#include <stdio.h>
#include <stdlib.h>

#include "korv/raid.h"
#include "korv_internal.h"
#include "raid_internal.h"

namespace {

struct GlobResult {
    glob_t found{};
    GlobResult() = default;
    GlobResult(const GlobResult &) = delete;
    GlobResult &operator=(const GlobResult &) = delete;
    ~GlobResult() { globfree(&found); }
};

}  // namespace

extern "C" void KORVRaidDiskListFree(KORVRAIDDISK *disks)
{
    while (disks) {
        KORVRAIDDISK *next = disks->next;
        free(disks);
        disks = next;
    }
}

extern "C" int KORVRaidDiskListGet(const char *mdPath, KORVRAIDDISK **disks)
{
    if (!mdPath || !disks) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    int md = 0;
    if (korv::raid::MdIndex(mdPath, &md) != 0)
        return -1;
    char pattern[64];
    snprintf(pattern, sizeof pattern, "/sys/block/md%d/md/dev-*", md);
    GlobResult matches;
    const glob_t &found = matches.found;
    int rc = glob(pattern, 0, nullptr, &matches.found);
    if (rc == GLOB_NOMATCH) {
        *disks = nullptr;
        return 0;
    }
    if (rc != 0) {
        KORV_LOG_DEBUG("failed to glob '%s', errno=%m", pattern);
        KORV_ERR(KORL_ERR_OTHER);
        return -1;
    }
    KORVRAIDDISK *list = nullptr;
    for (size_t i = 0; i < found.gl_pathc; ++i) {
        KORVRAIDDISK *disk = nullptr;
        if (KORVRaidDiskCreate(found.gl_pathv[i], &disk) != 0) {
            KORV_LOG_DEBUG("Failed to create disk info from %s ,errno=0X%X", found.gl_pathv[i], KORLErrGet());
            KORVRaidDiskListFree(list);
            return -1;
        }
        RaidDiskListPush(&list, disk);
    }
    *disks = list;
    return 0;
}
