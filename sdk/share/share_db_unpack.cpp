#include <stdlib.h>
#include <string.h>

#include "korv/bdb.h"
#include "korv_internal.h"
#include "korv_le32.h"
#include "share_internal.h"

namespace korv::share {

namespace {

// A stored form is used only when it holds together: its two size words agree (and with the
// value's length when known), every offset lies among its strings, and its last byte is a NUL,
// so that every string ends inside it.
bool Valid(const unsigned char *v, int len, int *record)
{
    if (len >= 0 && len < kStoredHeader)
        return false;
    uint32_t total = korv::Le32Get(v + kStoredLengthAt);
    uint32_t cb = korv::Le32Get(v + kStoredRecordAt);
    if (total < static_cast<uint32_t>(kStoredHeader) || total > 0x7fffffff || cb + 4 != total ||
        (len >= 0 && total != static_cast<uint32_t>(len)))
        return false;
    for (int i = 0; i < 6; i++) {
        uint32_t off = korv::Le32Get(v + 4 + 4 * i);
        if (off < static_cast<uint32_t>(kDeviceHeader) || off >= cb)
            return false;
    }
    if (v[total - 1] != '\0')
        return false;
    *record = static_cast<int>(cb);
    return true;
}

}  // namespace

int UnpackChecked(const void *stored, int len, KORVSHARE **share)
{
    if (!stored || !share) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    auto *v = static_cast<const unsigned char *>(stored);
    int record;
    if (!Valid(v, len, &record)) {
        KORV_ERR(KORL_ERR_MALFORMED);
        return -1;
    }
    // The caller's buffer grows by the device's figures, kept in its own cbAlloc.
    KORVSHARE *s = *share;
    int hostSize = s ? static_cast<int>(HostBytes(s->cbAlloc)) : 0;
    void *p = s;
    if (KORVCheckAndRealloc(&p, &hostSize, static_cast<int>(HostBytes(record))) != 0) {
        *share = static_cast<KORVSHARE *>(p);
        KORV_LOG("KORVCheckAndRealloc failed. korverr=0x%04X", KORLErrGet());
        return -1;
    }
    s = static_cast<KORVSHARE *>(p);
    memcpy(HostAt(s, kDeviceHeader), v + kStoredHeader, static_cast<size_t>(record - kDeviceHeader));
    for (int i = 0; i < 6; i++)
        *Field(s, i) = HostAt(s, static_cast<int>(korv::Le32Get(v + 4 + 4 * i)));
    s->fType = static_cast<int>(korv::Le32Get(v + 28));
    s->browseable = static_cast<int>(korv::Le32Get(v + 32));
    s->ftpFlags = static_cast<int>(korv::Le32Get(v + 36));
    s->cbAlloc = hostSize - static_cast<int>(sizeof(KORVSHARE)) + kDeviceHeader;
    s->cbRecord = record;
    *share = s;
    return 0;
}

}  // namespace korv::share

extern "C" int KORVShareDBUnPack(const void *stored, KORVSHARE **share)
{
    return korv::share::UnpackChecked(stored, -1, share);
}
