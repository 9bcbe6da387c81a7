// The user, group and share records inside library functions, freed on every return through the
// handle traits of korv_unique.h; addr() hands a lookup or a walk the buffer it fills and reuses.
#pragma once

#include "korv/group.h"
#include "korv/share.h"
#include "korv/user.h"
#include "korv_unique.h"

namespace korv {

// Free takes the record's own pointer type (KORVUserFree takes any of the user functions' blocks).
template <typename Record, auto Free>
struct RecordTraits {
    using Handle = Record *;
    static constexpr Record *empty() { return nullptr; }
    static bool valid(Record *r) { return r != nullptr; }
    static int close(Record *r)
    {
        Free(r);
        return 0;
    }
};

using UserRecord = UniqueHandle<RecordTraits<KORVUSER, KORVUserFree>>;
using GroupRecord = UniqueHandle<RecordTraits<KORVGROUP, KORVGroupFree>>;
using ShareRecord = UniqueHandle<RecordTraits<KORVSHARE, KORVShareFree>>;

}  // namespace korv
