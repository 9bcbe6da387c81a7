// The stored form of a share record: the device's block as 32-bit little-endian words, its
// pointers turned into offsets, behind a reserved word.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "korv_internal.h"
#include "korv_le32.h"
#include "share_internal.h"

using namespace korv::share;

extern "C" void *KORVShareDBPack(const KORVSHARE *share)
{
    if (!share || share->cbRecord < kDeviceHeader || share->cbRecord > share->cbAlloc) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    // The strings of a record lie within its first cbRecord bytes; only those are stored.
    int offsets[6];
    const char *strings = HostAt(share, kDeviceHeader);
    for (int i = 0; i < 6; i++) {
        const char *s = Field(share, i);
        if (!s || s < strings || s >= strings + (share->cbRecord - kDeviceHeader)) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return nullptr;
        }
        offsets[i] = kDeviceHeader + static_cast<int>(s - strings);
    }
    int len = share->cbRecord + 4;
    auto *out = static_cast<unsigned char *>(calloc(1, static_cast<size_t>(len)));
    if (!out) {
        KORV_LOG("errno=%d/%m, malloc failed.\n", errno);
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    korv::Le32Put(out, 0);
    for (int i = 0; i < 6; i++)
        korv::Le32Put(out + 4 + 4 * i, static_cast<uint32_t>(offsets[i]));
    korv::Le32Put(out + 28, static_cast<uint32_t>(share->fType));
    korv::Le32Put(out + 32, static_cast<uint32_t>(share->browseable));
    korv::Le32Put(out + 36, static_cast<uint32_t>(share->ftpFlags));
    korv::Le32Put(out + kStoredLengthAt, static_cast<uint32_t>(len));
    korv::Le32Put(out + kStoredRecordAt, static_cast<uint32_t>(share->cbRecord));
    memcpy(out + kStoredHeader, strings, static_cast<size_t>(share->cbRecord - kDeviceHeader));
    return out;
}
