// The stored MTU of an interface: "<interface>_mtu" in the device settings, under their lock.
#include <stdio.h>

#include "korv/net.h"
#include "korv_internal.h"
#include "korv_settings.h"

extern "C" int KORVNetConfSetMTUValue(const char *mtu, const char *interface)
{
    if (!mtu || !interface) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::LockedSettings settings;
    if (settings.Lock() != 0) {
        KORV_LOG_PAREN("Failed to lock korvinfo(%X)", KORLErrGet());
        return -1;
    }
    // The key is cut to 11 characters, as the device's readers of it expect.
    char key[12];
    snprintf(key, sizeof key, "%s_mtu", interface);
    int result = 0;
    if (settings.Set(key, mtu) < 0) {
        KORV_LOG_PAREN("Failed to set MTU value(%X)", KORLErrGet());
        result = -1;
    }
    if (settings.Unlock() != 0) {
        KORV_LOG_PAREN("Failed to unlock korvinfo(%X)", KORLErrGet());
        result = -1;
    }
    return result;
}
