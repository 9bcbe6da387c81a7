#include "hash_internal.h"
#include "korv_le32.h"

using namespace korv::hash;

int KORLSzHashKeyIndex(const char *key, int nSlot)
{
    if (!key || nSlot <= 0)
        return -1;
    size_t len = strlen(key);
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 4 <= len; i += 4)
        sum += korv::Le32Get(key + i);
    if (i < len) {
        unsigned char last[4] = {0, 0, 0, 0};
        memcpy(last, key + i, len - i);
        sum += korv::Le32Get(last);
    }
    return static_cast<int>(sum % static_cast<uint32_t>(nSlot));
}

int KORLSzHashFindKey(PKORLSZHASH hash, const char *key)
{
    int n = hash->nSlot;
    int home = KORLSzHashKeyIndex(key, n);
    if (home < 0)
        return -1;
    KORLSZHASHSLOT *slots = Slots(hash);
    if (slots[home].key && strcmp(At(hash, slots[home].key), key) == 0)
        return home;
    if (!slots[home].key && !slots[home].value)
        return -1;
    for (int i = (home + 1) % n; i != home; i = (i + 1) % n) {
        if (!slots[i].key) {
            if (!slots[i].value)
                return -1;
            continue;  // a tombstone does not end the probe
        }
        if (strcmp(At(hash, slots[i].key), key) == 0)
            return i;
    }
    return -1;
}

int KORLSzHashFindSlot(PKORLSZHASH hash, const char *key)
{
    int n = hash->nSlot;
    int home = KORLSzHashKeyIndex(key, n);
    if (home < 0)
        return -1;
    KORLSZHASHSLOT *slots = Slots(hash);
    if (slots[home].key ? strcmp(At(hash, slots[home].key), key) == 0 : !slots[home].value)
        return home;
    // A tombstone at the home slot itself is never taken.
    int keyless = -1;
    for (int i = (home + 1) % n; i != home; i = (i + 1) % n) {
        if (!slots[i].key) {
            if (keyless < 0)
                keyless = i;
            if (!slots[i].value)
                return keyless;
            continue;
        }
        if (strcmp(At(hash, slots[i].key), key) == 0)
            return i;
    }
    return keyless;
}
