#include <cstdlib>

#include "korv_internal.h"
#include "korv_le32.h"
#include "list_internal.h"

using namespace korv::list;

namespace {

bool KnownMode(int32_t mode)
{
    return mode == KORL_SZLIST_UNSORTED || mode == KORL_SZLIST_SORT || mode == KORL_SZLIST_CASESORT ||
           mode == (KORL_SZLIST_SORT | KORL_SZLIST_CASESORT);
}

// A stored value is taken only when it is a block that the list functions could have built:
// everything they do later trusts these figures.
bool Sound(const unsigned char *v, int32_t size)
{
    if (size < KORL_SZLIST_MIN_SIZE)
        return false;
    auto word = [v](int i) { return static_cast<int32_t>(korv::Le32Get(v + 4 * i)); };
    int32_t cbSize = word(0), nItem = word(1), cbFree = word(2), mode = word(3), low = word(4),
            empty = word(5);
    if (cbSize != size || empty != size - 1 || v[size - 1] != 0 || !KnownMode(mode))
        return false;
    int64_t itemsEnd = kHeader + static_cast<int64_t>(kSlot) * nItem;
    if (nItem < 0 || itemsEnd > size || low < itemsEnd || low > size)
        return false;
    if (itemsEnd + cbFree + (size - low) != size)
        return false;
    // Each item is a gap or a string in the string area; their copies together fit in it.
    int64_t strings = 0;
    for (int32_t i = 0; i < nItem; i++) {
        int32_t at = static_cast<int32_t>(korv::Le32Get(v + kHeader + kSlot * i));
        if (at == empty)
            continue;
        if (at < low || at > size - 1)
            return false;
        strings += static_cast<int64_t>(strlen(reinterpret_cast<const char *>(v) + at)) + 1;
    }
    return strings <= size - low;
}

}  // namespace

extern "C" PKORLSZLIST KORVListDBUnpack(const void *value, int size)
{
    if (!value || size <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    const auto *v = static_cast<const unsigned char *>(value);
    if (size < kHeader || !Sound(v, size)) {
        KORV_ERR(KORL_ERR_BDB_INVALID);
        return nullptr;
    }
    auto *list = static_cast<PKORLSZLIST>(malloc(static_cast<size_t>(size)));
    if (!list) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    list->cbSize = static_cast<int32_t>(korv::Le32Get(v));
    list->nItem = static_cast<int32_t>(korv::Le32Get(v + 4));
    list->cbFree = static_cast<int32_t>(korv::Le32Get(v + 8));
    list->sortMode = static_cast<int32_t>(korv::Le32Get(v + 12));
    list->pLow = static_cast<int32_t>(korv::Le32Get(v + 16));
    list->pEmpty = static_cast<int32_t>(korv::Le32Get(v + 20));
    int32_t *items = Items(list);
    for (int i = 0; i < list->nItem; i++)
        items[i] = static_cast<int32_t>(korv::Le32Get(v + kHeader + kSlot * i));
    size_t tail = kHeader + static_cast<size_t>(kSlot) * list->nItem;
    memcpy(Base(list) + tail, v + tail, static_cast<size_t>(size) - tail);
    return list;
}
