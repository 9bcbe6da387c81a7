// /etc/group and /etc/group_desc written anew from the group stores.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "group_dump_files.h"
#include "korv_bdb.h"
#include "korv_guard.h"
#include "korv_internal.h"

using namespace korv::group;

namespace {

const korv::AccountMessages kMessages = {"Fail to open file", "fflush() failed!!", true};

// Writes the group lines in the id store's order (by gid; groups sharing a gid as they were
// stored) and their descriptions into the temporary files, complete and on disk: 0, or -1.
int Dump(KORVGROUPDB *set)
{
    korv::AccountRewrite rw(kDumpFiles, 2, kMessages);
    if (rw.Open() != 0)
        return -1;
    int32_t current;
    if (korv::bdb::MarkerGet(set->pGRPGID, KORV_BDB_KEY_CURRENT_GID, KORV_BDB_KEY_CURRENT_ID_LEN, &current) != 0)
        return -1;
    char head[64];
    snprintf(head, sizeof head, "#$%s$%d$", kGidIndexName, static_cast<int>(current));
    if (rw.PutLine(kGroupLines, head) != 0)
        return -1;
    if (KORVBDbCursorSetType(set->pGRPGID, KORV_BDB_CURSOR_FIRST) != 0)
        return -1;
    korv::bdb::CursorBuffers b;
    for (bool first = true;; first = false) {
        if (KORVBDbCursorGet(set->pGRPGID, 1, &b.key, &b.cbKey, &b.value, &b.cbValue) != 0) {
            // Only the end of a walk that found groups ends it: a file cut short is never published.
            if (!first && KORLErrGet() == KORL_ERR_BDB_END)
                break;
            return -1;
        }
        if (first && KORVBDbCursorSetType(set->pGRPGID, KORV_BDB_CURSOR_NEXT) != 0)
            return -1;
        const char *v = static_cast<const char *>(b.value);
        if (v[b.cbValue - 1] != '\0') {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        std::string key(v);
        if (key.find('\\') != std::string::npos)
            continue;
        const char *line;
        size_t len;
        int r = LookupLine(set->pGRPName, key, &line, &len);
        if (r != 0) {
            if (r > 0) {
                KORV_LOG("SzKORLSzHashGetValue(%s) failed", key.c_str());
                KORV_ERR(KORL_ERR_NOT_FOUND);
            }
            return -1;
        }
        if (rw.PutRecord(kGroupLines, line, len, key.c_str()) != 0)
            return -1;
        r = LookupLine(set->pGRPDesc, key, &line, &len);
        if (r < 0 || (r == 0 && rw.PutRecord(kDescLines, line, len, key.c_str()) != 0))
            return -1;
    }
    return rw.Finish();
}

}  // namespace

extern "C" int KORVGroupDBDump(KORVGROUPDB *set)
{
    return KORV_GUARDED(-1, {
        if (!set || !set->pGRPName || !set->pGRPGID || !set->pGRPDesc) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        // A set left stale by a failed rebuild never overwrites what was edited since.
        if (korv::bdb::SetSourcesCurrent(kGroupSet, set) != 1)
            return -1;
        // Until both files are complete and on disk the targets stay as they were.
        if (Dump(set) != 0)
            return -1;
        if (GROUPIRenameTempFiles() != 0) {
            KORV_LOG("GROUPIRenameTempFiles() failed!! errno=%d/%m", errno);
            return -1;
        }
        if (GROUPIRemoveTempFiles() != 0) {
            KORV_LOG("GROUPIRemoveTempFiles() failed!! errno=%d/%m", errno);
            return -1;
        }
        if (GroupDbConfSyncTimeSet(set, nullptr, nullptr) != 0) {
            KORV_LOG("GroupDbConfSyncTimeSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
