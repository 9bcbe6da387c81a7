// Whether a hash's entries can each be written as one key line.
#include "file_internal.h"

namespace korv::file {

bool HashOnOneLine(PKORLSZHASH hash)
{
    if (!hash)
        return true;
    for (int i = 0; i < hash->nSlot; ++i) {
        const char *key = SzKORLSzHashSlotKey(hash, i);
        if (key && (BreaksLine(key) || BreaksLine(SzKORLSzHashSlotValue(hash, i))))
            return false;
    }
    return true;
}

}  // namespace korv::file
