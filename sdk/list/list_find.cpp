#include "korv_internal.h"
#include "list_internal.h"

using namespace korv::list;

extern "C" int KORLSzListFind(PKORLSZLIST list, const char *s)
{
    if (!list || !s || list->sortMode == KORL_SZLIST_CASESORT) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (list->sortMode == KORL_SZLIST_SORT) {
        int at = KORLSzListBinarySearch(list, list->nItem - 1, 0, s, 0);
        return at < 0 ? -1 : at;
    }
    for (int i = 0; i < list->nItem; i++) {
        if (!IsGap(list, i) && strcmp(Item(list, i), s) == 0)
            return i;
    }
    return -1;
}
