#include <cstdlib>

#include "korv_internal.h"
#include "list_internal.h"

using namespace korv::list;

extern "C" PKORLSZLIST PslKORLSzListExpand(PKORLSZLIST list)
{
    if (!list) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    // Offsets are 32-bit: a block cannot double past 2 GiB.
    int64_t size = 2 * static_cast<int64_t>(list->cbSize);
    if (size > INT32_MAX) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    auto *grown = static_cast<PKORLSZLIST>(calloc(1, static_cast<size_t>(size)));
    if (!grown) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    grown->cbSize = static_cast<int32_t>(size);
    grown->nItem = list->nItem;
    grown->cbFree = grown->cbSize - kHeader;
    grown->sortMode = list->sortMode;
    grown->pLow = grown->cbSize;
    grown->pEmpty = grown->cbSize - 1;

    // Only the live strings are copied: this is where removed and replaced bytes come back.
    for (int i = 0; i < list->nItem; i++) {
        int64_t need = kSlot;
        size_t len = 0;
        if (!IsGap(list, i)) {
            len = strlen(Item(list, i));
            need += CopySize(grown, len);
        }
        // Cannot happen for a sound list; guards against one whose items share bytes.
        if (need > grown->cbFree) {
            free(grown);
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return nullptr;
        }
        if (IsGap(list, i)) {
            Items(grown)[i] = grown->pEmpty;
        } else {
            grown->pLow -= CopySize(grown, len);
            memcpy(Base(grown) + grown->pLow, Item(list, i), len + 1);
            Items(grown)[i] = grown->pLow;
        }
        grown->cbFree -= static_cast<int32_t>(need);
    }
    free(list);
    return grown;
}

namespace korv::list {

bool MakeRoom(PKORLSZLIST *plist, int64_t slotBytes, size_t len, const char *&s, korv::MallocPtr<char> &keep,
              const char *file, int line)
{
    // The copy's size is asked again after each expansion: an expansion that leaves no string
    // behind makes an empty text's copy one byte larger.
    auto short_of_room = [&] { return (*plist)->cbFree < slotBytes + CopySize(*plist, len); };
    if (!short_of_room())
        return true;
    if (Inside(*plist, s)) {
        keep.reset(strdup(s));
        if (!keep) {
            KORLErrSetEx(KORL_ERR_NO_MEMORY, file, line);
            return false;
        }
        s = keep.get();
    }
    while (short_of_room()) {
        PKORLSZLIST grown = PslKORLSzListExpand(*plist);
        if (!grown)
            return false;
        *plist = grown;
    }
    return true;
}

}  // namespace korv::list
