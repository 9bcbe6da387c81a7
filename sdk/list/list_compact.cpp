#include "list_internal.h"

using namespace korv::list;

extern "C" void KORLSzListCompact(PKORLSZLIST list)
{
    if (!list)
        return;
    int32_t *items = Items(list);
    int kept = 0;
    for (int i = 0; i < list->nItem; i++) {
        if (items[i] != list->pEmpty)
            items[kept++] = items[i];
    }
    for (int i = kept; i < list->nItem; i++)
        items[i] = 0;
    list->cbFree += kSlot * (list->nItem - kept);
    list->nItem = kept;
}
