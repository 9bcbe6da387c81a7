// One member record from its sysfs directory ("/sys/block/mdN/md/dev-NAME").
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korv/raid.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "korv_unique.h"

extern "C" int RaidDiskFileReadLine(const char *path, char *buffer, int size)
{
    if (!path || !buffer || size <= 0) {
        KORV_LOG_DEBUG("parameter error");
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile fp(fopen(path, "re"));
    if (!fp) {
        KORV_LOG_DEBUG("Failed to fopen %s, errno=%m", path);
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    if (!fgets(buffer, size, fp.get())) {
        KORV_LOG_DEBUG("Failed to fgets %s, errno=%m", path);
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return 0;
}

namespace {

// The first line of memberDir/name, or null after the messages.
bool ReadMemberFile(const char *memberDir, const char *name, char *line, int size)
{
    char path[4096];
    int n = snprintf(path, sizeof path, "%s/%s", memberDir, name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
    } else if (RaidDiskFileReadLine(path, line, size) == 0) {
        return true;
    }
    KORV_LOG_DEBUG("Failed to get status from %s, errno=0X%X", path, KORLErrGet());
    KORV_LOG_DEBUG("Failed to get status from %s, errno=0X%X", memberDir, KORLErrGet());
    return false;
}

}  // namespace

extern "C" int KORVRaidDiskCreate(const char *memberDir, KORVRAIDDISK **disk)
{
    if (!memberDir || !disk) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::MallocPtr<KORVRAIDDISK> record(static_cast<KORVRAIDDISK *>(calloc(1, sizeof(KORVRAIDDISK))));
    if (!record) {
        KORV_LOG_DEBUG("Failed to calloc, errno=%m");
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    const char *dev = strstr(memberDir, "dev-");
    if (!dev) {
        KORV_LOG_DEBUG("Failed to strstr %s, errno=%m", memberDir);
        KORV_ERR(KORV_ERR_RAID_NO_DEV);
        KORV_LOG_DEBUG("Failed to get path from %s ,errno=0X%X", memberDir, KORLErrGet());
        return -1;
    }
    snprintf(record->path, sizeof record->path, "/dev/%s", dev + 4);

    char state[32] = {};
    if (!ReadMemberFile(memberDir, "state", state, sizeof state))
        return -1;
    if (strstr(state, "faulty")) {
        record->state = KORV_RAID_DISK_FAULTY;
    } else if (strstr(state, "error")) {
        record->state = KORV_RAID_DISK_ERROR;
    } else if (strstr(state, "in_sync")) {
        record->state = KORV_RAID_DISK_IN_SYNC;
    } else if (strstr(state, "spare")) {
        char slot[32] = {};
        if (!ReadMemberFile(memberDir, "slot", slot, sizeof slot))
            return -1;
        record->state = strstr(slot, "none") ? KORV_RAID_DISK_SPARE_NONE : KORV_RAID_DISK_SPARE;
    } else {
        record->state = KORV_RAID_DISK_IN_SYNC;
    }
    *disk = record.release();
    return 0;
}
