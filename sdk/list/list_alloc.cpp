#include <cstdlib>

#include "korv_internal.h"
#include "list_internal.h"

extern "C" PKORLSZLIST PslKORLSzListAlloc(int size)
{
    if (size < KORL_SZLIST_MIN_SIZE)
        size = KORL_SZLIST_MIN_SIZE;
    // Zero-filled, so the free bytes of a stored list carry nothing of the heap.
    auto *list = static_cast<PKORLSZLIST>(calloc(1, static_cast<size_t>(size)));
    if (!list) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    list->cbSize = size;
    list->nItem = 0;
    list->cbFree = size - korv::list::kHeader;
    list->sortMode = KORL_SZLIST_UNSORTED;
    list->pLow = size;
    list->pEmpty = size - 1;
    return list;
}
