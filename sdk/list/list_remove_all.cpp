#include "list_internal.h"

using namespace korv::list;

extern "C" void KORLSzListRemoveAll(PKORLSZLIST list)
{
    if (!list)
        return;
    list->nItem = 0;
    list->pLow = list->cbSize;
    list->cbFree = list->cbSize - kHeader;
    // The old items and strings are free bytes now; a stored form must not carry them.
    memset(Base(list) + kHeader, 0, static_cast<size_t>(list->cbFree));
}
