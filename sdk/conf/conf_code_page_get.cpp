#include "korv_internal.h"
#include "korv/file.h"
#include "korv/unicode.h"

extern "C" int KORVConfCodePageGet(int kind, int *pIndex)
{
    if (!pIndex) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Language codes are at most 7 characters; a longer value does not fit and fails the read.
    char value[8] = "";
    const char *key = kind == KORL_CP_KIND_MEDIASERVICE ? "codepage_mediaservice" : "codepage";
    if (KORLFileGetKeyValue(KORV_INFO_CONF, key, value, sizeof value, 0) <= 0)
        return -1;
    int index = KORLUnicodeCodePageValueParse(kind, value);
    if (index < 0)
        return -1;
    *pIndex = index;
    return 0;
}
