// Setting one device setting in "/etc/korvinfo.conf" under its named lock.
#include "korv/file.h"
#include "korv/file_lock.h"
#include "korv_internal.h"
#include "korv_rewrite.h"

extern "C" int KORVINFOSetKeyValue(const char *key, const char *value)
{
    // A key no reader would find again is refused before the lock is waited for.
    if (!key || !value || !korv::KeyLineKeyOk(key)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (ErrKORLFileLock(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB, 5) < 0)
        return -1;
    int set = KORLFileSetKeyValue(KORV_INFO_CONF, key, value, KORL_KEY_FORMAT_QUOTED);
    int unlocked = ErrKORLFileUnlock(KORL_LOCK_KORVINFO);
    return set > 0 && unlocked == 0 ? 0 : -1;
}
