#include <string.h>

#include "korv_bdb.h"
#include "korv_internal.h"
#include "user_internal.h"

extern "C" int KORVUserDBCheckExists(KORVUSERDB *set, const char *key, int keyLen, char *storedName, int cbStoredName)
{
    if (!set || !key || keyLen < 0 || (!storedName && cbStoredName != 0)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    const void *data;
    int len;
    int r = korv::bdb::Lookup(set->pPWDName, key, keyLen + 1, &data, &len);
    if (r != 0) {
        if (r > 0)
            KORV_ERR(KORV_ERR_USER_NOT_FOUND);
        return 0;
    }
    if (!storedName)
        return 1;
    const char *line = static_cast<const char *>(data);
    for (int i = 0; i < cbStoredName; i++) {
        if (i >= len || line[i] == '\0') {
            storedName[0] = '\0';
            KORV_ERR(KORL_ERR_MALFORMED);
            return 0;
        }
        if (line[i] == ':') {
            storedName[i] = '\0';
            return 1;
        }
        storedName[i] = line[i];
    }
    // The name does not fit: nothing half-copied is left behind.
    if (cbStoredName > 0)
        storedName[0] = '\0';
    return 0;
}
