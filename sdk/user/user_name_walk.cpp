// The enumerations' walk over the user name store.
#include <string.h>

#include "korv_bdb.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "user_internal.h"

namespace korv::user {

int UserNameWalk(KORVUSERDB *set, const std::function<int(const void *key, int keyLen, const std::string &line)> &visit,
                 std::source_location loc)
{
    if (KORVBDbCursorSetType(set->pPWDName, KORV_BDB_CURSOR_FIRST) != 0) {
        korv::ErrAt(KORV_ERR_USER_ENUM, loc);
        return -1;
    }
    korv::bdb::CursorBuffers b;
    for (;;) {
        if (KORVBDbCursorGet(set->pPWDName, 1, &b.key, &b.cbKey, &b.value, &b.cbValue) != 0) {
            if (KORLErrGet() == KORL_ERR_BDB_END)
                return 0;
            korv::ErrAt(KORV_ERR_USER_ENUM, loc);
            return -1;
        }
        const char *value = static_cast<const char *>(b.value);
        std::string line(value, strnlen(value, static_cast<size_t>(b.cbValue)));
        if (visit(b.key, b.cbKey, line) != 0)
            return -1;
    }
}

}  // namespace korv::user
