#include "korv_internal.h"
#include "list_internal.h"

namespace korv::list {

int Search(PKORLSZLIST list, const char *s, bool caseless)
{
    if (list->sortMode == (caseless ? KORL_SZLIST_CASESORT : KORL_SZLIST_SORT)) {
        int at = KORLSzListBinarySearch(list, list->nItem - 1, 0, s, caseless);
        return at < 0 ? -1 : at;
    }
    // A failing caseless comparison (-2) counts as unequal.
    for (int i = 0; i < list->nItem; i++) {
        if (!IsGap(list, i) && Compare(Item(list, i), s, caseless) == 0)
            return i;
    }
    return -1;
}

}  // namespace korv::list

extern "C" int KORLSzListFind(PKORLSZLIST list, const char *s)
{
    if (!list || !s || list->sortMode == KORL_SZLIST_CASESORT) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return korv::list::Search(list, s, false);
}
