#include "korv_internal.h"
#include "list_internal.h"

namespace korv::list {

int Search(PKORLSZLIST list, const char *s, bool caseless)
{
    const bool sorted = list->sortMode == (caseless ? KORL_SZLIST_CASESORT : KORL_SZLIST_SORT);
    if (sorted) {
        int at = KORLSzListBinarySearch(list, list->nItem - 1, 0, s, caseless);
        // A text that the caseless order cannot place is looked for by its bytes below.
        if (at >= 0 || !caseless || Compare(s, s, true) != -2)
            return at < 0 ? -1 : at;
    }
    // Byte-equal texts are equal also where the caseless comparison fails (-2).
    for (int i = 0; i < list->nItem; i++) {
        if (IsGap(list, i))
            continue;
        const char *item = Item(list, i);
        if (strcmp(item, s) == 0 || (!sorted && caseless && Compare(item, s, true) == 0))
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
