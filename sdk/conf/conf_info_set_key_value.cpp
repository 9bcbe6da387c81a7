// Setting one device setting in "/etc/korvinfo.conf" under its named lock.
#include "korv/file.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_settings.h"

extern "C" int KORVINFOSetKeyValue(const char *key, const char *value)
{
    // A key no reader would find again is refused before the lock is waited for.
    if (!key || !value || !korv::KeyLineKeyOk(key)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return korv::LockedSettings::SetOne(key, value);
}
