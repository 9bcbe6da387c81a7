// A user, group or share database opened for one function's walk and closed on every return.
#pragma once

#include "korv/group.h"
#include "korv/share.h"
#include "korv/user.h"

namespace korv {

// Null db when the open failed; a null database is never closed (the share close would record
// 0x0D00 for it).
template <typename Set, Set *(*Open)(), void (*Close)(Set *)>
struct DbHolder {
    Set *db = Open();
    DbHolder() = default;
    DbHolder(const DbHolder &) = delete;
    DbHolder &operator=(const DbHolder &) = delete;
    ~DbHolder()
    {
        if (db)
            Close(db);
    }
};

using UserDbHolder = DbHolder<KORVUSERDB, KORVUserDBOpen, KORVUserDBClose>;
using GroupDbHolder = DbHolder<KORVGROUPDB, KORVGroupDBOpen, KORVGroupDBClose>;
using ShareDbHolder = DbHolder<KORVSHAREDB, KORVShareDBOpen, KORVShareDBClose>;

}  // namespace korv
