#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <initializer_list>

#include "korv/file.h"
#include "korv/mail.h"
#include "korv/net.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "mail_internal.h"

using namespace korv::mail;

namespace {

// The joined address texts are kept within this many bytes (with their NUL).
constexpr size_t kJoinedSize = 256;
constexpr int kMaxInterfaces = 8;

// Appends piece to text when the whole of it fits; a piece that does not fit is left out rather
// than cut.
void AppendWhole(std::string &text, const std::string &piece)
{
    if (text.size() + piece.size() < kJoinedSize)
        text += piece;
}

// "%IP_ADDR%" and "%HTTP_URL%" of the interfaces that carry an address: 0, or -1.
int Addresses(std::string &addrs, std::string &urls)
{
    KORVNETIFINFO records[kMaxInterfaces];
    memset(records, 0, sizeof records);
    int n = KORVNetGetInterfaceInfo(records, kMaxInterfaces, KORV_NET_IF_NO_SLAVES);
    if (n < 0)
        return -1;
    for (int i = 0; i < n && i < kMaxInterfaces; ++i) {
        uint32_t address = 0, netmask = 0;
        KORVNetGetIfAddr(records[i].szIfName, &address, &netmask);
        char dotted[INET_ADDRSTRLEN] = "";
        struct in_addr in;
        in.s_addr = address;
        if (!inet_ntop(AF_INET, &in, dotted, sizeof dotted) || strcmp(dotted, "0.0.0.0") == 0)
            continue;
        AppendWhole(addrs, std::string(dotted) + ", ");
        AppendWhole(urls, "http://" + std::string(dotted) + ":5000/, ");
    }
    for (std::string *text : {&addrs, &urls}) {
        if (text->size() >= 2 && text->compare(text->size() - 2, 2, ", ") == 0)
            text->resize(text->size() - 2);
    }
    char yes[8] = "";
    if (KORLFileGetKeyValue(KORV_INFO_CONF, "ddns_update", yes, sizeof yes, 0) <= 0 || strcmp(yes, "yes") != 0)
        return 0;
    char select[1024] = "";
    if (KORLFileGetKeyValue(KORV_INFO_CONF, "ddns_select", select, sizeof select, 0) < 0) {
        KORV_LOG("Failed to get ddns_select of /etc/korvinfo.conf.");
        return 0;
    }
    KORVDDNSCONF ddns;
    memset(&ddns, 0, sizeof ddns);
    if (KORVDDNSConfigGet(select, &ddns) < 0) {
        KORV_LOG("Failed to get DDNS info by select name %s.", select);
        return 0;
    }
    AppendWhole(urls, ", http://" + std::string(ddns.szHost) + ":5000/");
    return 0;
}

}  // namespace

extern "C" int MailTagConvert(const char *path, PKORLSZHASH *ptags)
{
    if (!path || !ptags || !*ptags) {
        KORV_LOG_PAREN("Bad parameter.");
        return -1;
    }
    korv::ListHolder keys(PslKORLSzListAlloc(512));
    if (!keys) {
        KORV_LOG_PAREN("Failed to malloc for list.");
        return -1;
    }
    char company[256];
    CompanyName(company, sizeof company);
    char host[256];
    ShortHostName(host, sizeof host);
    std::string addrs, urls;
    if (Addresses(addrs, urls) < 0)
        return -1;
    int date[6];
    if (KORLTimeDateGet(date) < 0)
        return -1;
    char day[32], clock[32];
    snprintf(day, sizeof day, "%d/%02d/%02d", date[0], date[1], date[2]);
    snprintf(clock, sizeof clock, "%02d:%02d:%02d", date[3], date[4], date[5]);

    struct Tag {
        const char *key;
        const char *value;
    };
    for (const Tag &t : {Tag{"%COMPANY_NAME%", company}, Tag{"%HOSTNAME%", host}, Tag{"%IP_ADDR%", addrs.c_str()},
                         Tag{"%HTTP_URL%", urls.c_str()}, Tag{"%DATE%", day}, Tag{"%TIME%", clock}}) {
        if (KORLSzHashSetValue(ptags, t.key, t.value) < 0)
            return -1;
    }
    if (KORLSzHashEnumKey(*ptags, keys.addr()) < 0)
        return -1;
    for (int i = 0; i < keys->nItem; ++i) {
        const char *key = SzKORLSzListGet(keys.get(), i);
        const char *value = SzKORLSzHashGetValue(*ptags, key);
        if (!value || KORLFileReplaceSubStr(path, key, value) < 0)
            return -1;
    }
    return 0;
}
