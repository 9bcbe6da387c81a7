#include <climits>
#include <cstdlib>
#include <cstring>

#include "korv/list.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"

using korv::MallocPtr;

extern "C" int KORLStrJoin(const char *const *items, int count, const char *sep, char **pbuf, int *pcb)
{
    if (!items || count < 1 || !pbuf || !pcb || !sep || (*pbuf && *pcb < 1)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        KORV_LOG("Bad parameters!!");
        return -1;
    }
    MallocPtr<size_t> lens(static_cast<size_t *>(std::calloc(static_cast<size_t>(count), sizeof(size_t))));
    if (!lens) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        KORV_LOG("Out of memory!!");
        return -1;
    }
    const size_t lenSep = std::strlen(sep);
    unsigned long long sum = 0;
    for (int i = 0; i < count; ++i) {
        if (!items[i])
            continue;
        lens.get()[i] = std::strlen(items[i]);
        sum += lens.get()[i] + lenSep;
    }
    if (sum == 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        KORV_LOG("The input array is empty!!");
        return -1;
    }
    // The size is recorded in an int; a larger text cannot be held, and the caller's buffer
    // stays as it is.
    if (sum + 1 > static_cast<unsigned long long>(INT_MAX)) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        KORV_LOG("Out of memory!!");
        return -1;
    }
    const int need = static_cast<int>(sum + 1);
    if (!*pbuf || *pcb < need) {
        // KORLRealloc frees the old block when it fails: never leave the caller holding it.
        char *grown = static_cast<char *>(KORLRealloc(*pbuf, static_cast<size_t>(need)));
        if (!grown) {
            *pbuf = nullptr;
            *pcb = 0;
            KORV_ERR(KORL_ERR_NO_MEMORY);
            KORV_LOG("Out of memory!!");
            return -1;
        }
        *pbuf = grown;
        *pcb = need;
    }

    char *buf = *pbuf;
    std::memset(buf, 0, static_cast<size_t>(*pcb));
    size_t pos = 0;
    for (int i = 0; i < count; ++i) {
        if (!items[i])
            continue;
        std::memcpy(buf + pos, items[i], lens.get()[i]);
        pos += lens.get()[i];
        std::memcpy(buf + pos, sep, lenSep);
        pos += lenSep;
    }
    // Cut the last separator off whole, so nothing of it lingers past the text.
    std::memset(buf + pos - lenSep, 0, lenSep);
    return 0;
}
