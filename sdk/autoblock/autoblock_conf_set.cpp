#include <stdio.h>

#include <initializer_list>

#include "autoblock_internal.h"
#include "korv/autoblock.h"
#include "korv/file.h"
#include "korv_internal.h"
#include "korv_settings.h"
#include "korv_sz_holders.h"

using namespace korv::autoblock;

extern "C" int KORVAutoBlockConfSet(const KORVAUTOBLOCKCONF *conf)
{
    if (!conf) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::HashHolder changed(PshKORLSzHashAlloc(512));
    if (!changed) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    KORVAUTOBLOCKCONF stored = {};
    if (KORVAutoBlockConfGet(&stored) < 0) {
        KORV_LOG("Fail to get original auto block configuration from /etc/korvinfo.conf, korverr=[0x%04X]",
                 KORLErrGet());
        return -1;
    }
    struct Number {
        const char *key;
        int now, was;
    };
    for (const Number &n : {Number{kKeyAttempts, conf->attempts, stored.attempts},
                            Number{kKeyAttemptMin, conf->attemptMin, stored.attemptMin},
                            Number{kKeyExpireDays, conf->expireDays, stored.expireDays}}) {
        if (n.now == n.was)
            continue;
        char text[32];
        snprintf(text, sizeof text, "%d", n.now);
        if (KORLSzHashSetValue(changed.addr(), n.key, text) < 0)
            return -1;
    }
    if (conf->notify != stored.notify &&
        KORLSzHashSetValue(changed.addr(), kKeyNotify, conf->notify ? "yes" : "no") < 0)
        return -1;

    korv::LockedSettings settings;
    if (settings.Lock() != 0) {
        KORV_LOG("ErrKORLFileLock() failed!! file=[%s], korverr=[0x%04X]", KORV_INFO_CONF, KORLErrGet());
        return -1;
    }
    if (settings.SetKeys(changed.get()) < 0) {
        KORV_LOG("KORLFileSetKeys() failed!! szFile=[%s], korverr=[0x%04X]", KORV_INFO_CONF, KORLErrGet());
        return -1;
    }
    int unlocked = settings.Unlock();
    // The settings are written: the daemon reads them again even when the lock stayed held.
    KORVAutoBlockServicesHup();
    return unlocked == 0 ? 0 : -1;
}
