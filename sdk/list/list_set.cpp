#include <cstdlib>

#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "list_internal.h"

using namespace korv::list;

extern "C" int KORLSzListSet(PKORLSZLIST *plist, int index, const char *s)
{
    if (!s || !plist || !*plist) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    PKORLSZLIST list = *plist;
    if (index < 0 || index >= list->nItem) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    size_t len = strlen(s);
    char *cur = Item(list, index);
    size_t oldLen = strlen(cur);
    if (len <= oldLen) {
        // s may overlap the item (a suffix of itself). What is left of the old text is zeroed:
        // it would live on in the stored list (an old password, say).
        memmove(cur, s, len + 1);
        memset(cur + len + 1, 0, oldLen - len);
    } else {
        int64_t need = static_cast<int64_t>(len) + 1;
        if (need > INT32_MAX - kHeader - static_cast<int64_t>(kSlot) * list->nItem) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        korv::MallocPtr<char> keep;
        if (!MakeRoom(plist, 0, len, s, keep, __FILE_NAME__, __LINE__))
            return -1;
        list = *plist;
        list->pLow -= static_cast<int32_t>(need);
        memcpy(Base(list) + list->pLow, s, static_cast<size_t>(need));
        list->cbFree -= static_cast<int32_t>(need);
        // The old copy stays counted as used, but holds nothing any more (a gap's is the shared
        // empty string: nothing to clear).
        char *old = Item(list, index);
        memset(old, 0, strlen(old));
        Items(list)[index] = list->pLow;
    }

    int mode = list->sortMode;
    if (mode == KORL_SZLIST_UNSORTED)
        return index;
    // The bytes of the new text stay where they are while the item array is re-sorted.
    const char *placed = Item(list, index);
    if (mode & KORL_SZLIST_SORT)
        SortItems(list, false);
    else if (mode & KORL_SZLIST_CASESORT)
        SortItems(list, true);
    return mode == KORL_SZLIST_CASESORT ? KORLSzListCaseFind(list, placed) : KORLSzListFind(list, placed);
}
