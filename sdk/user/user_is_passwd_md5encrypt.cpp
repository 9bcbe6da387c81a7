#include <string.h>

#include "korv_crypt.h"
#include "korv_internal.h"

extern "C" int KORVUserIsPasswdMD5Encrypt(const char *passwd)
{
    if (!passwd) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    const char *marker = strstr(passwd, "$1$");
    return marker && strlen(marker) > 12 ? 1 : 0;
}
