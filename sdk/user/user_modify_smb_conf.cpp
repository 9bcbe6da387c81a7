// A batch of user renames carried into the shares' user lists, and smb.conf written anew.
#include <stdlib.h>

#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "share/share_internal.h"
#include "user_internal.h"

namespace {

// The three lists of one share renamed; stored when one changed. A list that cannot be renamed
// fails the share, whose stored lists all stay as they are. 0, or -1.
int RenameInShare(KORVSHAREDB *db, const KORVSHARE *share, PKORLSZHASH renames)
{
    const char *lists[3] = {share->szInvalidUsers, share->szWriteList, share->szReadList};
    char *out[3] = {};
    int cb[3] = {};
    struct Owned {
        char **p;
        ~Owned()
        {
            for (int i = 0; i < 3; i++)
                free(p[i]);
        }
    } owned{out};
    const char *result[3];
    bool changed = false;
    for (int i = 0; i < 3; i++) {
        char *buf = out[i];
        int r = KORVUserModifyListConfig(lists[i], &buf, &cb[i], renames);
        if (r < 0) {
            if (buf != lists[i])
                out[i] = buf;
            KORV_LOG("KORVUserModifyListConfig %s failed. korverr=0x%04X", share->szName, KORLErrGet());
            return -1;
        }
        if (r == 1) {
            out[i] = buf;
            changed = true;
        }
        result[i] = r == 1 ? buf : lists[i];
    }
    if (!changed)
        return 0;
    KORVSHARE next = *share;
    next.szInvalidUsers = const_cast<char *>(result[0]);
    next.szWriteList = const_cast<char *>(result[1]);
    next.szReadList = const_cast<char *>(result[2]);
    if (KORVShareDBSet(db, share->szName, &next) != 0) {
        KORV_LOG("KORVShareDBSet %s failed. korverr=0x%04X", share->szName, KORLErrGet());
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int KORVUserModifySmbConf(PKORLSZHASH renames)
{
    return KORV_GUARDED(-1, {
        if (!renames) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::HashHolder seen(PshKORLSzHashAlloc(512));
        if (!seen)
            return -1;
        korv::ShareDbHolder shares;
        if (!shares.db) {
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
        korv::ShareBuffer share;
        int walked = 0;
        while (KORVShareDBCursorGet(shares.db, &share.p) == 0) {
            if (SzKORLSzHashGetValue(seen.get(), share.p->szName))
                continue;
            if (KORLSzHashSetValue(seen.addr(), share.p->szName, "1") < 0) {
                KORV_LOG("HashSetValue failed.");
                return -1;
            }
            ++walked;
            if (RenameInShare(shares.db, share.p, renames) != 0)
                return -1;
        }
        if (KORLErrGet() != KORL_ERR_BDB_END) {
            KORV_LOG("KORVShareDBCursorGet() error. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (walked > 0 && KORVShareDBDump(shares.db) != 0) {
            KORV_LOG("KORVShareDBDump failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
