// Yes/no test of a key's value.
#include <string.h>
#include <strings.h>

#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileCheckKeyValue(const char *path, const char *key, const char *value, int def)
{
    if (!path || !key || !value)
        return 0;
    char buf[512] = {};
    int n = KORLFileGetKeyValue(path, key, buf, sizeof buf, 0);
    if (n < 0) {
        KORV_LOG("KORLFileGetKeyValue(%s) failed, korverr=0x%04X", key, KORLErrGet());
        return 0;
    }
    if (n == 0)
        return def;
    return strcasecmp(buf, value) == 0 ? 1 : 0;
}
