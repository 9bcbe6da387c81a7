#include <stdio.h>

#include "korv_internal.h"
#include "user_internal.h"

namespace {

const char *Text(const char *s)
{
    return s ? s : "";
}

}  // namespace

extern "C" int KORVUserDBPack(const KORVUSER *user, char **ppLine, int *pcbLine)
{
    if (!user || !ppLine || !pcbLine || (*ppLine && *pcbLine == 0)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (!user->szName || !*user->szName) {
        KORV_ERR(KORV_ERR_USER_INVALID_NAME);
        return -1;
    }
    const char *fmt = "%s:x:%d:%d:%s:%s:%s";
    int n = snprintf(nullptr, 0, fmt, user->szName, user->uid, user->gid, Text(user->szGecos), Text(user->szHomeDir),
                     Text(user->szShell));
    if (n < 0 || n >= 0x7fffffff) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    void *p = *ppLine;
    if (KORVCheckAndRealloc(&p, pcbLine, n + 1) != 0) {
        *ppLine = static_cast<char *>(p);
        KORV_LOG("KORVCheckAndRealloc() failed! korverr=0x%04X", KORLErrGet());
        return -1;
    }
    *ppLine = static_cast<char *>(p);
    snprintf(*ppLine, static_cast<size_t>(n) + 1, fmt, user->szName, user->uid, user->gid, Text(user->szGecos),
             Text(user->szHomeDir), Text(user->szShell));
    return n + 1;
}
