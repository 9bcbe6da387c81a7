#include "korv_internal.h"
#include "list_internal.h"

using namespace korv::list;

extern "C" char *SzKORLSzListRemove(PKORLSZLIST list, int index)
{
    if (!list || list->nItem <= 0 || index < 0 || index >= list->nItem) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    int32_t *items = Items(list);
    char *item = Base(list) + items[index];
    memmove(items + index, items + index + 1, sizeof(int32_t) * (list->nItem - index - 1));
    list->nItem--;
    items[list->nItem] = 0;  // the slot is free bytes again
    list->cbFree += kSlot;
    return item;
}

extern "C" char *SzKORLSzListPop(PKORLSZLIST list)
{
    if (!list) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    return SzKORLSzListRemove(list, list->nItem - 1);
}

extern "C" char *SzKORLSzListShift(PKORLSZLIST list)
{
    if (!list) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    return SzKORLSzListRemove(list, 0);
}
