// The stored MTU of an interface: "<interface>_mtu" in the device settings, under their lock.
#include <stdio.h>

#include "korv/file.h"
#include "korv/file_lock.h"
#include "korv/net.h"
#include "korv_internal.h"

extern "C" int KORVNetConfSetMTUValue(const char *mtu, const char *interface)
{
    if (!mtu || !interface) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (ErrKORLFileLock(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB, 5) < 0) {
        KORV_LOG_PAREN("Failed to lock korvinfo(%X)", KORLErrGet());
        return -1;
    }
    // The key is cut to 11 characters, as the device's readers of it expect.
    char key[12];
    snprintf(key, sizeof key, "%s_mtu", interface);
    int result = 0;
    if (KORLFileSetKeyValue(KORV_INFO_CONF, key, mtu, KORL_KEY_FORMAT_QUOTED) < 0) {
        KORV_LOG_PAREN("Failed to set MTU value(%X)", KORLErrGet());
        result = -1;
    }
    if (ErrKORLFileUnlock(KORL_LOCK_KORVINFO) < 0) {
        KORV_LOG_PAREN("Failed to unlock korvinfo(%X)", KORLErrGet());
        result = -1;
    }
    return result;
}
