#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "autoblock_internal.h"
#include "korv/autoblock.h"
#include "korv/file.h"
#include "korv_internal.h"
#include "korv_named_lock.h"
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
    korv::NamedLock lock(KORL_LOCK_KORVINFO);
    if (lock.Take(LOCK_SH) != 0) {
        KORV_LOG("ErrKORLFileLock() failed!! file=[%s], korverr=[0x%04X]", KORV_INFO_CONF, KORLErrGet());
        return -1;
    }
    int got = KORLFileGetKeys(KORV_INFO_CONF, wanted.get(), values.addr(), "=");
    if (got < 0) {
        KORV_LOG("KORLFileGetKeys() failed!! szFile=[%s], korverr=[0x%04X]", KORV_INFO_CONF, KORLErrGet());
        return -1;
    }
    if (lock.Release() != 0)
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
