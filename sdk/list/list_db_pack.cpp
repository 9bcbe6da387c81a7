#include <cstdlib>

#include "korv_internal.h"
#include "korv_le32.h"
#include "list_internal.h"

using namespace korv::list;

extern "C" void *KORVListDBPack(PKORLSZLIST list, int size)
{
    // Anything but the whole block would store a form that no reader can check.
    if (!list || size <= 0 || size != list->cbSize) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    // Zero-filled: only the live strings are copied in, so the bytes of removed and replaced
    // items (and anything else in the free area) are not stored.
    auto *out = static_cast<unsigned char *>(calloc(1, static_cast<size_t>(size)));
    if (!out) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    // The block already holds offsets; the words are written out little-endian one by one.
    const int32_t header[6] = {list->cbSize, list->nItem, list->cbFree,
                               list->sortMode, list->pLow, list->pEmpty};
    for (int i = 0; i < 6; i++)
        korv::Le32Put(out + 4 * i, static_cast<uint32_t>(header[i]));
    const int32_t *items = Items(list);
    for (int i = 0; i < list->nItem; i++) {
        korv::Le32Put(out + kHeader + kSlot * i, static_cast<uint32_t>(items[i]));
        int32_t at = items[i];
        if (at == list->pEmpty || at < list->pLow || at >= size)
            continue;
        size_t n = strnlen(Base(list) + at, static_cast<size_t>(size - at));
        memcpy(out + at, Base(list) + at, n);
    }
    return out;
}
