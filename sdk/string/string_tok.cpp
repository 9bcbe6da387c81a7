#include "korv/list.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "string_split.h"

extern "C" int KORLStrTok(const char *s, const char *delim, PKORLSZLIST *plist)
{
    if (!s || !delim || !plist || !*plist) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Runs of delimiters give no empty items.
    return korv::string::appendPieces(s, delim, plist, KORLStrSepNext, __FILE_NAME__, __LINE__);
}
