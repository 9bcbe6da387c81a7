// The share record: the header, then the strings packed downward from the block's end.
#include <stdlib.h>
#include <string.h>

#include "korv_internal.h"
#include "korv_rewrite.h"
#include "share_internal.h"

using namespace korv::share;

extern "C" KORVSHARE *KORVShareAlloc(const KORVSHARE *in)
{
    if (!in || !in->szName || !in->szPath || in->fType < 0 || in->browseable < 0 || in->ftpFlags < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    if (!KORVShareIsValidName(in->szName)) {
        KORV_ERR(KORV_ERR_SHARE_INVALID_NAME);
        return nullptr;
    }
    if (in->szPath[0] != '/') {
        KORV_ERR(KORV_ERR_SHARE_PATH);
        return nullptr;
    }
    size_t lens[6];
    size_t size = kDeviceHeader;
    for (int i = 0; i < 6; i++) {
        const char *s = Field(in, i);
        // Every text becomes a line of smb.conf: none may begin another.
        if (s && korv::BreaksLine(s)) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return nullptr;
        }
        lens[i] = s ? strlen(s) : 0;
        size += lens[i] ? lens[i] + 1 : 0;
    }
    if (size > 0x7fff0000) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    int cb = static_cast<int>(size);
    auto *share = static_cast<KORVSHARE *>(calloc(1, HostBytes(cb)));
    if (!share) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    int end = cb;
    for (int i = 0; i < 6; i++) {
        if (lens[i] == 0) {
            *Field(share, i) = HostAt(share, cb - 1);
            continue;
        }
        end -= static_cast<int>(lens[i]) + 1;
        memcpy(HostAt(share, end), Field(in, i), lens[i] + 1);
        *Field(share, i) = HostAt(share, end);
    }
    share->fType = in->fType;
    share->browseable = in->browseable;
    share->ftpFlags = in->ftpFlags;
    share->cbAlloc = cb;
    share->cbRecord = cb;
    return share;
}

extern "C" void KORVShareFree(KORVSHARE *share)
{
    free(share);
}
