#include "korv/file_lock.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "share_internal.h"

extern "C" int KORVShareEnum(PKORLSZLIST *list, int kindMask)
{
    return KORV_GUARDED(-1, {
        korv::LockedLookup<KORVSHAREDB> db(KORL_LOCK_SMB, KORVShareDBOpen, KORVShareDBClose);
        if (db.Begin() != 0)
            return -1;
        const KORVSHAREENUMCB callbacks = {nullptr, korv::share::ShareEnumFilter, nullptr};
        int count = KORVShareDBEnumInternal(db.get(), list, &callbacks, nullptr, kindMask);
        // A lock that cannot be released is recorded; the names are listed all the same.
        db.End();
        return count;
    });
}
