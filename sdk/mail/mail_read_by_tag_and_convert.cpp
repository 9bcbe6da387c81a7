#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "korv/mail.h"
#include "korv_internal.h"
#include "korv_io.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "korv_unique.h"

namespace {

// The header or end line test: at least 3 bytes with the newline, beginning with "[".
bool Bracketed(const char *line, size_t len)
{
    return len >= 3 && line[0] == '[';
}

// Copies the tag's block of the template into out: 1 found, 0 not found, -1 write failure.
int CopyBlock(FILE *tmpl, FILE *out, const char *tag)
{
    korv::LineReader lines(tmpl);
    bool inBlock = false;
    while (lines.Next()) {
        char *line = lines.data();
        size_t len = lines.size();
        if (!inBlock) {
            if (!Bracketed(line, len) || !memchr(line, ']', len))
                continue;
            std::string name(line + 1, len - 1);
            name.resize(name.rfind(']'));
            inBlock = name == tag;
            continue;
        }
        if (Bracketed(line, len))
            break;
        while (len > 0 && strchr("\t \r\n", line[len - 1]) && line[len - 1] != '\0')
            --len;
        if (fwrite(line, 1, len, out) != len || fputc('\n', out) == EOF) {
            std::string text(line, len);
            KORV_LOG_PAREN("Failed to write [%s] to file. (%s)", text.c_str(), strerror(errno));
            return -1;
        }
    }
    return inBlock ? 1 : 0;
}

// Splits the converted mail into subject and body: 0, or -1.
int Split(const char *path, char *subject, int subjectSize, char *body, int bodySize)
{
    if (!subject || !body || subjectSize <= 0 || bodySize <= 0) {
        KORV_LOG_PAREN("Bad parameter.");
        return -1;
    }
    korv::UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
        KORV_LOG_PAREN("Failed to open %s. (%s)", path, strerror(errno));
        return -1;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) {
        KORV_LOG_PAREN("Failed to stat file. (%s)", strerror(errno));
        return -1;
    }
    std::string text;
    text.resize(static_cast<size_t>(st.st_size));
    const size_t got = korv::ReadFull(fd.get(), text.data(), text.size(), {path, 0}).done;
    if (got != text.size()) {
        KORVMailSmtpErrorCallBack("Yee....Read mail failed. Size was not match.");
        KORV_LOG_PAREN("read file failed. (%d) != (%lld)", static_cast<int>(got), static_cast<long long>(st.st_size));
        return -1;
    }
    size_t at = text.find("Subject:");
    size_t nl = at == std::string::npos ? at : text.find('\n', at);
    if (nl == std::string::npos) {
        KORV_LOG_PAREN("Bad email format.\n%s", text.c_str());
        return -1;
    }
    std::string subj = text.substr(at + 8, nl - at - 8);
    snprintf(subject, static_cast<size_t>(subjectSize), "%s", subj.c_str());
    size_t rest = nl + 1;
    while (rest < text.size() && strchr("\r\n ", text[rest]) && text[rest] != '\0')
        ++rest;
    std::string content = text.substr(0, at) + text.substr(rest);
    snprintf(body, static_cast<size_t>(bodySize), "%s", content.c_str());
    return 0;
}

}  // namespace

extern "C" int KORVMailReadByTagAndConvert(const char *lang, const char *tag, char *subject, int subjectSize,
                                           char *body, int bodySize, PKORLSZHASH *ptags)
{
    korv::HashHolder own(ptags ? nullptr : PshKORLSzHashAlloc(512));
    if (!ptags) {
        if (!own) {
            KORV_LOG_PAREN("Failed to alloc memory for hash.");
            return -1;
        }
        ptags = own.addr();
    }
    if (!tag || !lang) {
        KORV_LOG_PAREN("bad parameter.");
        return -1;
    }
    char tmplPath[128], tempPath[128];
    if (snprintf(tmplPath, sizeof tmplPath, "%s%s/mails", KORV_MAIL_TEXTS, lang) >= static_cast<int>(sizeof tmplPath)) {
        KORV_LOG_PAREN("bad parameter.");
        return -1;
    }
    snprintf(tempPath, sizeof tempPath, KORV_MAIL_TEMP, static_cast<int>(getpid()));

    korv::UniqueFile tmpl(fopen(tmplPath, "re"));
    if (!tmpl) {
        KORV_LOG_PAREN("Failed to open %s. (%s)", tmplPath, strerror(errno));
        return -1;
    }
    // A name in /tmp that anyone can guess: whatever lies there is removed, and the new file is
    // made exclusively, never through a link, and private.
    unlink(tempPath);
    korv::UniqueFd fd(open(tempPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    korv::UniqueFile out(fd ? fdopen(fd.get(), "w") : nullptr);
    if (!out) {
        KORV_LOG_PAREN("Failed to open %s. (%s)", tempPath, strerror(errno));
        return -1;
    }
    fd.release();
    struct Remove {
        const char *path;
        ~Remove() { unlink(path); }
    } removeTemp{tempPath};

    int found = CopyBlock(tmpl.get(), out.get(), tag);
    if (out.close() != 0 && found >= 0) {
        KORV_LOG_PAREN("Failed to write [%s] to file. (%s)", tempPath, strerror(errno));
        return -1;
    }
    if (found < 0)
        return -1;
    if (found == 0) {
        KORVMailSmtpErrorCallBack("Failed to found mail tag");
        KORV_LOG_PAREN("Failed to read mail tag [%s].", tag);
        return -1;
    }
    if (MailTagConvert(tempPath, ptags) < 0) {
        KORVMailSmtpErrorCallBack("Failed to convert mail content.");
        KORV_LOG_PAREN("Failed to convert mail.");
        return -1;
    }
    if (Split(tempPath, subject, subjectSize, body, bodySize) < 0) {
        KORV_LOG_PAREN("Failed to get subject and content from temp file.");
        return -1;
    }
    return 0;
}
