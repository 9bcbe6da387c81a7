#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "korv/file.h"
#include "korv/file_lock.h"
#include "korv/mail.h"
#include "korv_internal.h"
#include "mail_internal.h"

using namespace korv::mail;

namespace {

// The encoded subject is "=?UTF-8?B?" + Base64 + "?=" in at most this many characters; the
// subject is cut before encoding so that the word always ends whole.
constexpr size_t kEncodedMax = 511;
constexpr size_t kSubjectBytesMax = (kEncodedMax - 12) / 4 * 3;

// Length of subject cut to at most max bytes, never inside a UTF-8 sequence.
size_t CutUtf8(const char *subject, size_t max)
{
    size_t n = strlen(subject);
    if (n <= max)
        return n;
    n = max;
    while (n > 0 && (static_cast<unsigned char>(subject[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// The child's own descriptors only: its parent's files and locks stay the parent's.
void DetachDescriptors()
{
    KORLFileLockCloseAll();
    closelog();
    int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) {
        if (null >= 0 && null != fd)
            dup2(null, fd);
    }
    int from = null > 2 ? null : 3;
    closefrom(from);
    if (null > 2)
        close(null);
}

void SendInChild(const char *tag, PKORLSZHASH *ptags, const char *to, const KORVMAILCONF *given)
{
    KORVMAILCONF read = {};
    const KORVMAILCONF *conf = given;
    if (!conf) {
        if (KORVMailGet(&read) < 0) {
            KORV_LOG("Failed to get mail setting.");
            return;
        }
        conf = &read;
    }
    struct FreeConf {
        KORVMAILCONF *conf;
        ~FreeConf() { KORVMailFree(conf); }
    } freeConf{&read};
    if (!conf->szServer || !*conf->szServer || !conf->szMail1 || !*conf->szMail1)
        return;

    char lang[8] = "";
    int got = KORLFileGetKeyValue(KORV_INFO_CONF, "maillang", lang, sizeof lang, 0);
    if (got <= 0) {
        if (got < 0)
            KORV_LOG("Failed to get maillang, use enu instead. korverr=[0x%04X]", KORLErrGet());
        snprintf(lang, sizeof lang, "enu");
    }
    char subject[512], body[4096];
    if (KORVMailReadByTagAndConvert(lang, tag, subject, sizeof subject, body, sizeof body, ptags) < 0) {
        KORV_LOG("Failed to get mail content.");
        return;
    }
    char host[256], company[512], fromName[128];
    ShortHostName(host, sizeof host);
    CompanyName(company, sizeof company, "Vaultmere");
    // Cut to the 128 bytes the name holds.
    snprintf(fromName, sizeof fromName, "%s", (std::string(host) + " - " + company).c_str());

    KORVSMTP smtp;
    memset(&smtp, 0, sizeof smtp);
    KORVSMTPFREEFN freeSmtp = nullptr;
    void *plugin = nullptr;
    struct Release {
        KORVSMTP *smtp;
        KORVSMTPFREEFN *freeSmtp;
        void **plugin;
        ~Release()
        {
            if (*freeSmtp)
                (*freeSmtp)(smtp);
            if (*plugin)
                dlclose(*plugin);
        }
    } release{&smtp, &freeSmtp, &plugin};

    if (KORVMailFillSmtpStruct(&smtp, conf, fromName, to) < 0) {
        KORV_LOG("Failed to fill SMTP struct.");
        return;
    }
    if (!smtp.pTo || !smtp.pTo->szAddr) {
        KORV_LOG("There is no to email.");
        return;
    }
    if (!smtp.pFrom || !smtp.pFrom->szAddr) {
        KORV_LOG("There is no from email.");
        return;
    }
    plugin = dlopen(KORV_SMTP_PLUGIN, RTLD_NOW | RTLD_GLOBAL);
    if (!plugin) {
        KORV_LOG("dlopen failed. (%s)\n", dlerror());
        return;
    }
    dlerror();
    auto lookup = [&](const char *name) -> void * {
        void *sym = dlsym(plugin, name);
        const char *err = dlerror();
        if (err) {
            KORV_LOG("dlsym failed. (%s)", err);
            return nullptr;
        }
        return sym;
    };
    auto send = reinterpret_cast<KORVSMTPSENDEMAILFN>(lookup("KORVSMTPSendEmail"));
    if (!send)
        return;
    freeSmtp = reinterpret_cast<KORVSMTPFREEFN>(lookup("KORVSMTPFreeKORVSMTP"));
    if (!freeSmtp)
        return;
    auto encode = reinterpret_cast<SZBASE64ENCODEFN>(lookup("SzBase64Encode"));
    if (!encode)
        return;

    const char *b64 = encode(subject, static_cast<int>(CutUtf8(subject, kSubjectBytesMax)));
    if (!b64) {
        KORV_LOG("Failed to do base64 encode on subject.");
        return;
    }
    char encoded[kEncodedMax + 1];
    snprintf(encoded, sizeof encoded, "=?UTF-8?B?%s?=", b64);
    if (!(smtp.szSubject = strdup(encoded)) || !(smtp.szBody = strdup(body)) || !(smtp.szHeader = strdup(kMailHeader)))
        return;
    send(&smtp, KORVMailSmtpErrorCallBack);
}

}  // namespace

extern "C" int KORVMailSendMessage(const char *tag, PKORLSZHASH *ptags, const char *to, const KORVMAILCONF *conf)
{
    if (!tag || !*tag)
        return -1;
    // What the caller buffered must not be written twice, once by the child too.
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        KORV_LOG("Failed to fork(). errno=[%d/%m]", errno);
        return -1;
    }
    if (pid > 0)
        return pid;
    DetachDescriptors();
    SendInChild(tag, ptags, to, conf);
    // No exit handlers, no flush of buffers that are the parent's.
    _exit(0);
}

extern "C" int KORVMailSendTo(const char *tag, PKORLSZHASH *ptags, const char *to)
{
    return KORVMailSendMessage(tag, ptags, to, nullptr);
}

extern "C" int KORVMailSend(const char *tag, PKORLSZHASH *ptags)
{
    return KORVMailSendTo(tag, ptags, nullptr);
}
