#include "korv_guard.h"
#include "korv_internal.h"
#include "share_internal.h"

extern "C" int KORVShareDBDelete(KORVSHAREDB *db, const char *name)
{
    return KORV_GUARDED(-1, {
        if (!db || !db->pShare || !name) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        std::string key;
        if (korv::share::ShareKey(name, key) != 0) {
            KORV_LOG("KORLUnicodeUTF8StrUpper [%s] failed.", name);
            return -1;
        }
        return KORVBDbDelete(db->pShare, key.c_str(), static_cast<int>(key.size()) + 1);
    });
}
