#include <cstring>

#include "korv/list.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "string_split.h"

extern "C" int KORLStrSepPair(const char *s, PKORLSZLIST *plist)
{
    if (!s || !plist || !*plist) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::MallocPtr<char> copy = korv::string::copyText(s, __FILE_NAME__, __LINE__);
    if (!copy)
        return -1;
    char *key = copy.get();
    char *eq = std::strchr(key, '=');
    if (eq)
        *eq = '\0';
    if (KORLStrTrimSpace(key, nullptr) <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (KORLSzListPush(plist, key) < 0)
        return -1;
    // Callers see the key appended even when there is no value to go with it.
    if (!eq) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    char *val = eq + 1;
    KORLStrTrimSpace(val, nullptr);
    if (KORLSzListPush(plist, val) < 0)
        return -1;
    return 0;
}
