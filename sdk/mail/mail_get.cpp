#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <initializer_list>

#include "korv/file.h"
#include "korv/mail.h"
#include "korv_internal.h"

namespace {

// The key's value (at most 255 bytes) into buf: 0 (absent reads ""), or -1.
int Read(const char *key, char (&buf)[256])
{
    buf[0] = '\0';
    int got = KORLFileGetKeyValue(KORV_INFO_CONF, key, buf, sizeof buf, 0);
    if (got == 0)
        buf[0] = '\0';
    return got < 0 ? -1 : 0;
}

}  // namespace

extern "C" int KORVMailGet(KORVMAILCONF *conf)
{
    if (!conf) {
        KORV_LOG_PAREN("Bad parameter.");
        return -1;
    }
    memset(conf, 0, sizeof *conf);
    char buf[256];
    auto text = [&](const char *key, char **out, const char *failure) {
        if (Read(key, buf) < 0 || !(*out = strdup(buf))) {
            if (failure)
                KORV_LOG_PAREN("%s", failure);
            return false;
        }
        return true;
    };
    auto number = [&](const char *key, const char *failure, auto &&convert) {
        if (Read(key, buf) < 0) {
            if (failure)
                KORV_LOG_PAREN("%s", failure);
            return false;
        }
        convert(buf);
        return true;
    };
    bool ok = text("eventsmtp", &conf->szServer, "Failed to get SMTP server setting.") &&
              number("eventport", "Failed to get SMTP port setting.",
                     [&](const char *v) { conf->port = atoi(v) ? atoi(v) : 25; }) &&
              number("eventauth", "Failed to get SMTP auth setting.",
                     [&](const char *v) { conf->auth = strcasecmp(v, "yes") == 0; }) &&
              text("eventuser", &conf->szUser, "Failed to get SMTP auth user.") &&
              text("eventpass", &conf->szPass, "Failed to get SMTP auth pass.") &&
              number("eventusessl", nullptr, [&](const char *v) { conf->ssl = strcasecmp(v, "yes") == 0; }) &&
              text("eventmail1", &conf->szMail1, nullptr) && text("eventmail2", &conf->szMail2, nullptr);
    if (!ok) {
        KORVMailFree(conf);
        return -1;
    }
    return 0;
}

extern "C" void KORVMailFree(KORVMAILCONF *conf)
{
    if (!conf)
        return;
    for (char **text : {&conf->szServer, &conf->szUser, &conf->szPass, &conf->szMail1, &conf->szMail2}) {
        free(*text);
        *text = nullptr;
    }
}
