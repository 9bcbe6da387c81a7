#include <errno.h>
#include <sys/stat.h>

#include "group_internal.h"
#include "korv_internal.h"
#include "korv_unique.h"

namespace korv::group {

namespace {

// The stream given, or the file opened here (and closed with the holder).
FILE *Stream(FILE *given, const char *path, korv::UniqueFile &own)
{
    if (given)
        return given;
    own.reset(fopen(path, "re"));
    if (!own)
        KORV_ERR(KORL_ERR_OPEN);
    return own.get();
}

int SetFrom(FILE *fp, const char *path, KORVBDB *const *stores, int count)
{
    struct stat st;
    if (fstat(fileno(fp), &st) != 0) {
        KORV_LOG("stat [%s] failed!! errno=%d/%m", path, errno);
        return -1;
    }
    for (int i = 0; i < count; i++) {
        // The device's time words are 32 bits.
        if (KORVBDbConfSyncTimeSet(stores[i], static_cast<int32_t>(st.st_mtime)) != 0) {
            KORV_LOG("KORVBDbConfSyncTimeSet() failed!! korverr=0x%04X", KORLErrGet());
            return -1;
        }
    }
    return 0;
}

}  // namespace

int GroupDbConfSyncTimeSet(KORVGROUPDB *set, FILE *group, FILE *desc)
{
    if (!set || !set->pGRPName || !set->pGRPGID || !set->pGRPDesc) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::UniqueFile ownGroup, ownDesc;
    FILE *g = Stream(group, KORV_GROUP_FILE, ownGroup);
    FILE *d = g ? Stream(desc, KORV_GROUP_DESC_FILE, ownDesc) : nullptr;
    if (!g || !d)
        return -1;
    KORVBDB *const byGroup[] = {set->pGRPGID, set->pGRPName};
    KORVBDB *const byDesc[] = {set->pGRPDesc};
    if (SetFrom(g, KORV_GROUP_FILE, byGroup, 2) != 0 || SetFrom(d, KORV_GROUP_DESC_FILE, byDesc, 1) != 0)
        return -1;
    return 0;
}

}  // namespace korv::group
