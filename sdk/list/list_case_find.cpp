#include "korv/unicode.h"
#include "korv_internal.h"
#include "list_internal.h"

using namespace korv::list;

extern "C" int KORLSzListCaseFind(PKORLSZLIST list, const char *s)
{
    if (!list || !s || list->sortMode == KORL_SZLIST_SORT) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (list->sortMode == KORL_SZLIST_CASESORT) {
        int at = KORLSzListBinarySearch(list, list->nItem - 1, 0, s, 1);
        return at < 0 ? -1 : at;
    }
    // A failing comparison (-2) counts as unequal.
    for (int i = 0; i < list->nItem; i++) {
        if (!IsGap(list, i) && KORLUnicodeUTF8StrCaseCmp(Item(list, i), s) == 0)
            return i;
    }
    return -1;
}
