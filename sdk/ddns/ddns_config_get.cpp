#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include <initializer_list>

#include "korv/file.h"
#include "korv/mail.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"

extern "C" int KORVDDNSConfigGet(const char *name, KORVDDNSCONF *ddns)
{
    if (!name || !ddns) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::HashHolder keys(PshKORLSzHashAlloc(1024));
    if (!keys) {
        syslog(LOG_ERR, "%s(%s:%d): Failed to allocate hash for name %s in file %s, errno=%s/%d, korv_error=[%X]\n",
               "KORVDDNSConfigGet", __FILE_NAME__, __LINE__, name, KORV_DDNS_CONF, strerror(errno), errno,
               KORLErrGet());
        return -1;
    }
    int n = KORLFileGetSection(KORV_DDNS_CONF, name, keys.addr());
    if (n < 0) {
        syslog(LOG_ERR, "%s(%s:%d): Failed to get section from %s by name %s , ret=%d, errno=%s/%d\n",
               "KORVDDNSConfigGet", __FILE_NAME__, __LINE__, KORV_DDNS_CONF, name, n, strerror(errno), errno);
        return -1;
    }
    if (n == 0)
        return 0;
    snprintf(ddns->szName, sizeof ddns->szName, "%s", name);
    struct Field {
        const char *key;
        char *buf;
        size_t size;
    };
    int result = 1;
    for (const Field &f : {Field{"hostname", ddns->szHost, sizeof ddns->szHost},
                           Field{"username", ddns->szUser, sizeof ddns->szUser},
                           Field{"passwd", ddns->szPass, sizeof ddns->szPass}}) {
        const char *value = SzKORLSzHashGetValue(keys.get(), f.key);
        if (!value) {
            syslog(LOG_ERR, "%s(%s:%d): Failed to get by key %s by name %s at %s, errno=%s/%d\n", "KORVDDNSConfigGet",
                   __FILE_NAME__, __LINE__, f.key, name, KORV_DDNS_CONF, strerror(errno), errno);
            result = -1;
            continue;
        }
        snprintf(f.buf, f.size, "%s", value);
    }
    return result;
}
