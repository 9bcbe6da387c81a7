#include <curl/curl.h>

#include <algorithm>
#include <string.h>
#include <time.h>

#include <string>

#include "korv/mail.h"
#include "smtp_internal.h"

namespace {

bool Empty(const char *s)
{
    return !s || !*s;
}

bool Ascii(const char *s)
{
    for (; *s; ++s) {
        if (static_cast<unsigned char>(*s) >= 0x80)
            return false;
    }
    return true;
}

// A header field's text on one line: CR and LF become blanks, so no value starts a header.
std::string OneLine(const char *s)
{
    std::string out = s ? s : "";
    for (char &c : out) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

// "name <addr>", the name as an encoded word when it is not plain ASCII.
std::string Mailbox(const KORVSMTPADDR *a)
{
    std::string addr = "<" + OneLine(a->szAddr) + ">";
    if (Empty(a->szName))
        return addr;
    std::string name = OneLine(a->szName);
    if (!Ascii(name.c_str()))
        name = "=?UTF-8?B?" + korvsmtp::Base64(name.data(), name.size()) + "?=";
    else
        name = "\"" + name + "\"";
    return name + " " + addr;
}

// Lines ended by CRLF, as SMTP wants them.
std::string Crlf(const char *s)
{
    std::string out;
    for (const char *p = s ? s : ""; *p; ++p) {
        if (*p == '\r')
            continue;
        if (*p == '\n')
            out += '\r';
        out += *p;
    }
    return out;
}

std::string Message(const KORVSMTP *m)
{
    char date[64] = "";
    time_t now = time(nullptr);
    struct tm tm;
    if (gmtime_r(&now, &tm))
        strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    std::string to;
    for (const KORVSMTPADDR *a = m->pTo; a; a = a->pNext) {
        if (Empty(a->szAddr))
            continue;
        to += (to.empty() ? "" : ", ") + Mailbox(a);
    }
    std::string text = "Date: " + std::string(date) + "\r\n";
    text += "From: " + Mailbox(m->pFrom) + "\r\n";
    text += "To: " + to + "\r\n";
    text += "Subject: " + OneLine(m->szSubject) + "\r\n";
    text += "MIME-Version: 1.0\r\n";
    std::string extra = Crlf(m->szHeader);
    if (!extra.empty() && extra.back() != '\n')
        extra += "\r\n";
    text += extra + "\r\n";
    std::string body = Crlf(m->szBody);
    if (!body.empty() && body.back() != '\n')
        body += "\r\n";
    return text + body;
}

struct Upload {
    const std::string *text;
    size_t at = 0;
};

size_t ReadUpload(char *buf, size_t size, size_t n, void *arg)
{
    auto *up = static_cast<Upload *>(arg);
    size_t len = std::min(size * n, up->text->size() - up->at);
    memcpy(buf, up->text->data() + up->at, len);
    up->at += len;
    return len;
}

void Report(KORVSMTPERRORCB onError, const std::string &text)
{
    if (onError)
        onError(text.c_str());
}

}  // namespace

// Sends the message through its server: 0, or -1 after the failure went to onError.
KORVSMTP_EXPORT int KORVSMTPSendEmail(KORVSMTP *m, KORVSMTPERRORCB onError)
{
    if (!m || Empty(m->szServer)) {
        Report(onError, "SMTP server is not set");
        return -1;
    }
    if (!m->pFrom || Empty(m->pFrom->szAddr)) {
        Report(onError, "There is no sender address");
        return -1;
    }
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        Report(onError, "curl_global_init failed");
        return -1;
    }
    CURL *curl = curl_easy_init();
    if (!curl) {
        Report(onError, "curl_easy_init failed");
        return -1;
    }
    struct curl_slist *rcpt = nullptr;
    bool any = false;
    for (const KORVSMTPADDR *a = m->pTo; a; a = a->pNext) {
        if (Empty(a->szAddr))
            continue;
        std::string addr = "<" + OneLine(a->szAddr) + ">";
        struct curl_slist *grown = curl_slist_append(rcpt, addr.c_str());
        if (!grown) {
            curl_slist_free_all(rcpt);
            curl_easy_cleanup(curl);
            Report(onError, "Out of memory");
            return -1;
        }
        rcpt = grown;
        any = true;
    }
    if (!any) {
        curl_easy_cleanup(curl);
        Report(onError, "There is no recipient address");
        return -1;
    }

    int port = m->port > 0 ? m->port : 25;
    std::string host = m->szServer;
    if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    // Port 465 speaks TLS from the start; elsewhere STARTTLS is used when the server offers it,
    // and demanded when SSL is asked for.
    bool implicitTls = m->ssl && port == 465;
    std::string url = std::string(implicitTls ? "smtps://" : "smtp://") + host + ":" + std::to_string(port);
    std::string from = "<" + OneLine(m->pFrom->szAddr) + ">";
    std::string text = Message(m);
    Upload up{&text};
    char err[CURL_ERROR_SIZE] = "";

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(m->ssl ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    if (m->auth && !Empty(m->szUser)) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, m->szUser);
        curl_easy_setopt(curl, CURLOPT_PASSWORD, m->szPass ? m->szPass : "");
    }
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &up);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(text.size()));
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, err);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);

    CURLcode rc = curl_easy_perform(curl);
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK) {
        Report(onError, *err ? err : curl_easy_strerror(rc));
        return -1;
    }
    return 0;
}
