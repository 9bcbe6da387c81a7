// The walk that renames users or groups in every share's user lists.
#include <stdlib.h>

#include "korv_db_holder.h"
#include "korv_internal.h"
#include "korv_log_at.h"
#include "korv_rewrite.h"
#include "korv_share_lists.h"
#include "korv_sz_holders.h"
#include "share_internal.h"

namespace korv {

namespace {

// The three lists of one share renamed; stored when one changed. 0, or -1.
int RenameInShare(KORVSHAREDB *db, const KORVSHARE *share, const ListRenamer &rename, bool nameInSetFailure,
                  const std::source_location &loc)
{
    const char *lists[3] = {share->szInvalidUsers, share->szWriteList, share->szReadList};
    struct Owned {
        char *p[3] = {};
        ~Owned()
        {
            for (char *s : p)
                free(s);
        }
    } renamed;
    bool changed = false;
    for (int i = 0; i < 3; i++) {
        char *out = nullptr;
        int r = rename(lists[i], &out);
        if (r < 0)
            return -1;
        if (r == 1) {
            renamed.p[i] = out;
            changed = true;
        }
    }
    if (!changed)
        return 0;
    KORVSHARE next = *share;
    next.szInvalidUsers = renamed.p[0] ? renamed.p[0] : const_cast<char *>(lists[0]);
    next.szWriteList = renamed.p[1] ? renamed.p[1] : const_cast<char *>(lists[1]);
    next.szReadList = renamed.p[2] ? renamed.p[2] : const_cast<char *>(lists[2]);
    if (KORVShareDBSet(db, share->szName, &next) != 0) {
        if (nameInSetFailure)
            LogAt(LOG_ERR, loc, "KORVShareDBSet %s failed. korverr=0x%04X", share->szName, KORLErrGet());
        else
            LogAt(LOG_ERR, loc, "KORVShareDBSet failed. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    return 0;
}

}  // namespace

int RenameInShareLists(const ListRenamer &rename, bool nameInSetFailure, std::source_location loc)
{
    SeenNames seen;
    if (!seen)
        return -1;
    ShareDbHolder shares;
    if (!shares.db) {
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    ShareRecord share;
    int walked = 0;
    while (KORVShareDBCursorGet(shares.db, share.addr()) == 0) {
        if (!*share->szName)
            continue;
        int first = seen.First(share->szName, loc);
        if (first < 0)
            return -1;
        if (!first)
            continue;
        ++walked;
        if (RenameInShare(shares.db, share.get(), rename, nameInSetFailure, loc) != 0)
            return -1;
    }
    if (KORLErrGet() != KORL_ERR_BDB_END) {
        LogAt(LOG_ERR, loc, "KORVShareDBCursorGet() error. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    if (walked > 0 && KORVShareDBDump(shares.db) != 0) {
        LogAt(LOG_ERR, loc, "KORVShareDBDump failed. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    return 0;
}

}  // namespace korv
