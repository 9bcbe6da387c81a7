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

// The settings a notice is sent with: the caller's, or read here and freed when the child ends.
class Settings {
public:
    Settings() = default;
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;
    ~Settings() { KORVMailFree(&read_); }

    // false (logged) when they had to be read and could not be.
    bool Use(const KORVMAILCONF *given)
    {
        conf_ = given;
        if (conf_)
            return true;
        if (KORVMailGet(&read_) < 0) {
            KORV_LOG("Failed to get mail setting.");
            return false;
        }
        conf_ = &read_;
        return true;
    }
    const KORVMAILCONF &get() const { return *conf_; }

private:
    KORVMAILCONF read_ = {};
    const KORVMAILCONF *conf_ = nullptr;
};

// Without a server or a first recipient no mail is attempted, even to an explicit recipient.
bool Configured(const KORVMAILCONF &conf)
{
    return conf.szServer && *conf.szServer && conf.szMail1 && *conf.szMail1;
}

// The language of the notice texts: "maillang", or "enu".
void MailLanguage(char *lang, size_t size)
{
    int got = KORLFileGetKeyValue(KORV_INFO_CONF, "maillang", lang, static_cast<int>(size), 0);
    if (got <= 0) {
        if (got < 0)
            KORV_LOG("Failed to get maillang, use enu instead. korverr=[0x%04X]", KORLErrGet());
        snprintf(lang, size, "enu");
    }
}

// The sender's display name, "host - company", cut to size.
void SenderName(char *name, size_t size)
{
    char host[256], company[512];
    ShortHostName(host, sizeof host);
    CompanyName(company, sizeof company, "Vaultmere");
    snprintf(name, size, "%s", (std::string(host) + " - " + company).c_str());
}

// Server, account, sender and recipients into smtp: false (logged) when it cannot be filled or
// either end has no address.
bool FillAddresses(KORVSMTP *smtp, const KORVMAILCONF &conf, const char *fromName, const char *to)
{
    if (KORVMailFillSmtpStruct(smtp, &conf, fromName, to) < 0) {
        KORV_LOG("Failed to fill SMTP struct.");
        return false;
    }
    if (!smtp->pTo || !smtp->pTo->szAddr) {
        KORV_LOG("There is no to email.");
        return false;
    }
    if (!smtp->pFrom || !smtp->pFrom->szAddr) {
        KORV_LOG("There is no from email.");
        return false;
    }
    return true;
}

// The SMTP plug-in while it is loaded. Before it goes it frees what smtp points to, once its free
// function was found.
class Plugin {
public:
    explicit Plugin(KORVSMTP *smtp) : smtp_(smtp) {}
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;
    ~Plugin()
    {
        if (free_)
            free_(smtp_);
        if (handle_)
            dlclose(handle_);
    }

    // Loads the plug-in and finds its three functions in order: false (logged) at the first that fails.
    bool Load()
    {
        handle_ = dlopen(KORV_SMTP_PLUGIN, RTLD_NOW | RTLD_GLOBAL);
        if (!handle_) {
            KORV_LOG("dlopen failed. (%s)\n", dlerror());
            return false;
        }
        dlerror();
        return (send = reinterpret_cast<KORVSMTPSENDEMAILFN>(Lookup("KORVSMTPSendEmail"))) &&
               (free_ = reinterpret_cast<KORVSMTPFREEFN>(Lookup("KORVSMTPFreeKORVSMTP"))) &&
               (encode = reinterpret_cast<SZBASE64ENCODEFN>(Lookup("SzBase64Encode")));
    }

    KORVSMTPSENDEMAILFN send = nullptr;
    SZBASE64ENCODEFN encode = nullptr;

private:
    void *Lookup(const char *name)
    {
        void *sym = dlsym(handle_, name);
        if (const char *err = dlerror()) {
            KORV_LOG("dlsym failed. (%s)", err);
            return nullptr;
        }
        return sym;
    }

    KORVSMTP *smtp_;
    void *handle_ = nullptr;
    KORVSMTPFREEFN free_ = nullptr;
};

// The encoded subject, the body and the fixed header lines as copies in smtp: false when the
// subject cannot be encoded (logged) or a copy cannot be made.
bool PutTexts(KORVSMTP *smtp, SZBASE64ENCODEFN encode, const char *subject, const char *body)
{
    const char *b64 = encode(subject, static_cast<int>(CutUtf8(subject, kSubjectBytesMax)));
    if (!b64) {
        KORV_LOG("Failed to do base64 encode on subject.");
        return false;
    }
    char encoded[kEncodedMax + 1];
    snprintf(encoded, sizeof encoded, "=?UTF-8?B?%s?=", b64);
    return (smtp->szSubject = strdup(encoded)) && (smtp->szBody = strdup(body)) &&
           (smtp->szHeader = strdup(kMailHeader));
}

void SendInChild(const char *tag, PKORLSZHASH *ptags, const char *to, const KORVMAILCONF *given)
{
    Settings settings;
    if (!settings.Use(given) || !Configured(settings.get()))
        return;
    char lang[8] = "";
    MailLanguage(lang, sizeof lang);
    char subject[512], body[4096];
    if (KORVMailReadByTagAndConvert(lang, tag, subject, sizeof subject, body, sizeof body, ptags) < 0) {
        KORV_LOG("Failed to get mail content.");
        return;
    }
    char fromName[128];
    SenderName(fromName, sizeof fromName);

    KORVSMTP smtp;
    memset(&smtp, 0, sizeof smtp);
    Plugin plugin(&smtp);
    if (!FillAddresses(&smtp, settings.get(), fromName, to) || !plugin.Load() ||
        !PutTexts(&smtp, plugin.encode, subject, body))
        return;
    plugin.send(&smtp, KORVMailSmtpErrorCallBack);
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
