#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "autoblock_internal.h"
#include "korv/autoblock.h"
#include "korv/file.h"
#include "korv_internal.h"
#include "korv_settings.h"
#include "korv_sz_holders.h"

using namespace korv::autoblock;

extern "C" int KORVAutoBlockConfGet(KORVAUTOBLOCKCONF *conf)
{
    if (!conf) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::ListHolder wanted(PslKORLSzListAlloc(512));
    korv::HashHolder values(PshKORLSzHashAlloc(512));
    if (!wanted || !values) {
        KORV_LOG("Out of memory!!");
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    for (const char *key : {kKeyAttempts, kKeyAttemptMin, kKeyExpireDays, kKeyNotify}) {
        if (KORLSzListPush(wanted.addr(), key) < 0) {
            KORV_LOG("Out of memory!!");
            return -1;
        }
    }
    korv::LockedSettings settings(LOCK_SH);
    if (settings.Lock() != 0) {
        KORV_LOG("ErrKORLFileLock() failed!! file=[%s], korverr=[0x%04X]", KORV_INFO_CONF, KORLErrGet());
        return -1;
    }
    if (settings.GetKeys(wanted.get(), values.addr()) < 0) {
        KORV_LOG("KORLFileGetKeys() failed!! szFile=[%s], korverr=[0x%04X]", KORV_INFO_CONF, KORLErrGet());
        return -1;
    }
    if (settings.Unlock() != 0)
        return -1;
    auto number = [&](const char *key) {
        const char *v = SzKORLSzHashGetValue(values.get(), key);
        return v ? atoi(v) : 0;
    };
    conf->attempts = number(kKeyAttempts);
    conf->attemptMin = number(kKeyAttemptMin);
    conf->expireDays = number(kKeyExpireDays);
    const char *notify = SzKORLSzHashGetValue(values.get(), kKeyNotify);
    conf->notify = notify && strcmp(notify, "yes") == 0 ? 1 : 0;
    return 0;
}
