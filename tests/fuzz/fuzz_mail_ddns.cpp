// The DDNS and mail settings over any file: the input is "/etc/ddns.conf", "/etc/korvinfo.conf"
// and the mail texts at once. A DDNS entry found fills each field within its buffer as the
// section holds it; the mail settings read are whole; a mail text read stays in its buffers.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_files.h"
#include "korv/file.h"
#include "korv/hash.h"
#include "korv/mail.h"

namespace {

const char kTexts[] = KORV_MAIL_TEXTS "enu/mails";

// A field holds the start of the section's value (absent: ""), terminated within its buffer.
void same_start(const char *field, size_t size, PKORLSZHASH keys, const char *key)
{
    korvfuzz::require(strnlen(field, size) < size, "a DDNS field is terminated in its buffer");
    const char *value = SzKORLSzHashGetValue(keys, key);
    const std::string whole = value ? value : "";
    korvfuzz::require(whole.compare(0, strlen(field), field) == 0 && (strlen(field) == size - 1 || whole == field),
                      "a DDNS field is its value, cut to its buffer");
}

void ddns(const char *name)
{
    KORVDDNSCONF conf;
    memset(&conf, 0x55, sizeof conf);
    const int rc = KORVDDNSConfigGet(name, &conf);
    if (rc == 0) {
        korvfuzz::require(static_cast<unsigned char>(conf.szName[0]) == 0x55, "a missing entry leaves the record");
        return;
    }
    if (rc < 0)
        return;
    korvfuzz::require(strcmp(conf.szName, name) == 0, "the entry carries its name");
    PKORLSZHASH keys = PshKORLSzHashAlloc(1024);
    if (keys && KORLFileGetSection(KORV_DDNS_CONF, name, &keys) > 0) {
        same_start(conf.szHost, sizeof conf.szHost, keys, "hostname");
        same_start(conf.szUser, sizeof conf.szUser, keys, "username");
        same_start(conf.szPass, sizeof conf.szPass, keys, "passwd");
    }
    KORLSzHashFree(keys);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (!korvfuzz::write_file(KORV_DDNS_CONF, text) || !korvfuzz::write_file(KORV_INFO_CONF, text) ||
        !korvfuzz::write_file(kTexts, text))
        return 0;
    ddns("DynDNS");
    ddns("a");

    KORVMAILCONF conf;
    if (KORVMailGet(&conf) == 0) {
        korvfuzz::require(conf.szServer && conf.szUser && conf.szPass && conf.szMail1 && conf.szMail2,
                          "mail settings read hold every text");
        korvfuzz::require(conf.port != 0 && (conf.auth == 0 || conf.auth == 1) && (conf.ssl == 0 || conf.ssl == 1),
                          "mail settings read hold their numbers");
        KORVMailFree(&conf);
    }

    char subject[64], body[256];
    memset(subject, 0x55, sizeof subject);
    memset(body, 0x55, sizeof body);
    PKORLSZHASH tags = PshKORLSzHashAlloc(512);
    if (tags && KORLSzHashSetValue(&tags, "%CLIENT_IP%", "10.0.0.1") >= 0 &&
        KORVMailReadByTagAndConvert("enu", "AutoBlockAdd", subject, 60, body, 250, &tags) == 0) {
        korvfuzz::require(strnlen(subject, 60) < 60 && static_cast<unsigned char>(subject[60]) == 0x55 &&
                              strnlen(body, 250) < 250 && static_cast<unsigned char>(body[250]) == 0x55,
                          "a mail text stays in its buffers");
    }
    KORLSzHashFree(tags);
    return 0;
}
