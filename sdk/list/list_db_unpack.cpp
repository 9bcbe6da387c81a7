#include <cstdlib>

#include "korv_internal.h"
#include "korv_le32.h"
#include "list_internal.h"

using namespace korv::list;

namespace {

KORLSZLIST ReadHeader(const unsigned char *v)
{
    auto word = [v](int i) { return static_cast<int32_t>(korv::Le32Get(v + 4 * i)); };
    return KORLSZLIST{word(0), word(1), word(2), word(3), word(4), word(5)};
}

// A stored value (its header read into h) is taken only when it is a block that the list functions
// could have built: everything they do later trusts these figures.
bool Sound(const unsigned char *v, int32_t size, KORLSZLIST &h)
{
    if (size < KORL_SZLIST_MIN_SIZE)
        return false;
    h = ReadHeader(v);
    // Any sort mode is taken: KORLSzListSort records whatever mode it is given, and the list
    // functions handle a list in any mode (only modes 1 and 0x10 are searched by bisection).
    if (h.cbSize != size || h.pEmpty != size - 1 || v[size - 1] != 0)
        return false;
    int64_t itemsEnd = kHeader + static_cast<int64_t>(kSlot) * h.nItem;
    if (h.nItem < 0 || itemsEnd > size || h.pLow < itemsEnd || h.pLow > size)
        return false;
    if (itemsEnd + h.cbFree + (size - h.pLow) != size)
        return false;
    // Each item is a gap or a string in the string area; their copies together fit in it.
    int64_t strings = 0;
    for (int32_t i = 0; i < h.nItem; i++) {
        int32_t at = static_cast<int32_t>(korv::Le32Get(v + kHeader + kSlot * i));
        if (at == h.pEmpty)
            continue;
        if (at < h.pLow || at > size - 1)
            return false;
        strings += static_cast<int64_t>(strlen(reinterpret_cast<const char *>(v) + at)) + 1;
    }
    return strings <= size - h.pLow;
}

}  // namespace

extern "C" PKORLSZLIST KORVListDBUnpack(const void *value, int size)
{
    if (!value || size <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    const auto *v = static_cast<const unsigned char *>(value);
    KORLSZLIST header;
    if (!Sound(v, size, header)) {
        KORV_ERR(KORL_ERR_BDB_INVALID);
        return nullptr;
    }
    auto *list = static_cast<PKORLSZLIST>(malloc(static_cast<size_t>(size)));
    if (!list) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    *list = header;
    int32_t *items = Items(list);
    for (int i = 0; i < list->nItem; i++)
        items[i] = static_cast<int32_t>(korv::Le32Get(v + kHeader + kSlot * i));
    size_t tail = kHeader + static_cast<size_t>(kSlot) * list->nItem;
    memcpy(Base(list) + tail, v + tail, static_cast<size_t>(size) - tail);
    return list;
}
