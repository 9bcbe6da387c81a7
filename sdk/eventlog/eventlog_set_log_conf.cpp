#include <stdio.h>

#include "korv/eventlog.h"
#include "korv_internal.h"
#include "korv_unique.h"

namespace {

struct ConfLine {
    const char *key;
    const char *file;
};

const ConfLine kDefaults[] = {
    {"syslog", "/var/log/korvsys.log"},     {"manlog", "/var/log/korvman1.log"},
    {"connlog", "/var/log/korvconn.log"},   {"bkplog", "/var/log/korvbackup.log"},
    {"copylog", "/var/log/korvcopy.log"},   {"netbkplog", "/var/log/korvnetbkp.log"},
    {"surlog", "/var/log/korvsur.log"},
};

}  // namespace

extern "C" int KORVLogSetLogConf(void)
{
    korv::UniqueFile fp(fopen(KORV_LOG_CONF, "w+"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    for (const ConfLine &line : kDefaults) {
        if (fprintf(fp.get(), "%sfile\t=\t\"%s\"\n", line.key, line.file) < 0 ||
            fprintf(fp.get(), "%sfilesize_MAX\t=\t\"%d\"\n", line.key, 65536) < 0)
            return -1;
    }
    return fp.close() == 0 ? 0 : -1;
}
