// The code-page keys: a Windows code page number becomes the language code the services read.
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include "korv/file.h"
#include "updater.h"
#include "updater_preflash.h"

namespace {

struct CodepageName {
    long number;
    const char *code;
};

const CodepageName kCodepages[] = {
    {852, "plk"}, {866, "rus"}, {932, "jpn"}, {936, "chs"}, {949, "krn"}, {950, "cht"}, {1254, "trk"},
};

const char kDefaultCode[] = "enu";

// True when the value is one of the codes this migration writes: a later run of the package
// (the installed build stays old until the reboot) must not read it as a number again.
bool IsLanguageCode(const char *value)
{
    if (strcmp(value, kDefaultCode) == 0)
        return true;
    for (const CodepageName &c : kCodepages)
        if (strcmp(value, c.code) == 0)
            return true;
    return false;
}

}  // namespace

int UpdateCodepage(const char *key)
{
    char buf[8] = {};
    if (KORLFileGetKeyValue(KORV_INFO_CONF, key, buf, sizeof buf, 0) <= 0)
        snprintf(buf, sizeof buf, "%s", "850");
    else if (IsLanguageCode(buf))
        return 0;
    long number = strtol(buf, nullptr, 10);
    const char *code = kDefaultCode;
    for (const CodepageName &c : kCodepages)
        if (c.number == number)
            code = c.code;
    int result = KORVINFOSetKeyValue(key, code);
    if (result < 0)
        syslog(LOG_ERR, "%s (%d) Failed to set key [%s] to value [%s]", UPDT_SOURCE, __LINE__, key, code);
    return result;
}

int UpdateCodepages(void)
{
    UpdateCodepage("codepage");
    UpdateCodepage("codepage_mediaservice");
    KORLFileRemoveKey(KORV_INFO_CONF, "codepage_apple");
    return 0;
}
