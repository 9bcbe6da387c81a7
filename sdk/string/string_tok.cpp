#include <cstring>

#include "korv/list.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"

using korv::MallocPtr;

extern "C" int KORLStrTok(const char *s, const char *delim, PKORLSZLIST *plist)
{
    if (!s || !delim || !plist || !*plist) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    MallocPtr<char> copy(strdup(s));
    if (!copy) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    int appended = 0;
    char *cursor = copy.get();
    while (char *token = KORLStrSepNext(&cursor, delim)) {
        if (KORLSzListPush(plist, token) < 0)
            return -1;
        ++appended;
    }
    return appended;
}
