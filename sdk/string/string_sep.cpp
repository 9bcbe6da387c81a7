#include <cstring>

#include "korv/list.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "string_split.h"

extern "C" int KORLStrSep(const char *s, const char *delim, PKORLSZLIST *plist)
{
    // The list is checked here too: appending to no list cannot succeed.
    if (!s || !delim || !plist || !*plist) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Plain strsep: empty fields between adjacent delimiters and at either end are items too.
    return korv::string::appendPieces(s, delim, plist, strsep, __FILE_NAME__, __LINE__);
}
