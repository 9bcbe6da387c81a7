#include <cstdlib>

#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "list_internal.h"

using namespace korv::list;

extern "C" int KORLSzListInsert(PKORLSZLIST *plist, int index, const char *s)
{
    if (!s || !plist || !*plist || index < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    PKORLSZLIST list = *plist;

    // A sorted list places the copy itself, next to an equal item when there is one.
    if (list->sortMode == KORL_SZLIST_SORT || list->sortMode == KORL_SZLIST_CASESORT) {
        int at = KORLSzListBinarySearch(list, list->nItem - 1, 0, s,
                                        list->sortMode == KORL_SZLIST_CASESORT);
        index = at < 0 ? ~at : at;
    }

    size_t len = strlen(s);
    int64_t slots = index < list->nItem ? 1 : static_cast<int64_t>(index) - list->nItem + 1;
    int64_t slotCost = kSlot * slots;
    // No block of 32-bit offsets could ever hold it.
    if (static_cast<int64_t>(len) + 2 + slotCost > INT32_MAX - kHeader - static_cast<int64_t>(kSlot) * list->nItem) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    korv::MallocPtr<char> keep;
    if (!MakeRoom(plist, slotCost, len, s, keep, __FILE_NAME__, __LINE__))
        return -1;
    list = *plist;
    int32_t copy = CopySize(list, len);
    int64_t cost = slotCost + copy;

    list->pLow -= copy;
    memmove(Base(list) + list->pLow, s, len + 1);
    int32_t *items = Items(list);
    if (index < list->nItem) {
        memmove(items + index + 1, items + index, sizeof(int32_t) * (list->nItem - index));
        list->nItem++;
    } else {
        for (int i = list->nItem; i < index; i++)
            items[i] = list->pEmpty;
        list->nItem = index + 1;
    }
    items[index] = list->pLow;
    list->cbFree -= static_cast<int32_t>(cost);
    return index;
}

extern "C" int KORLSzListPush(PKORLSZLIST *plist, const char *s)
{
    if (!plist || !*plist || !s) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return KORLSzListInsert(plist, (*plist)->nItem, s);
}

extern "C" int KORLSzListUnshift(PKORLSZLIST *plist, const char *s)
{
    if (!plist || !*plist || !s) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return KORLSzListInsert(plist, 0, s);
}
