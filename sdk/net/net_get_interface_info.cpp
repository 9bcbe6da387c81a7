// The interfaces that are up, with their flags, hardware and IPv4 addresses.
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>

#include "korv_internal.h"
#include "korv_rewrite.h"
#include "net_internal.h"

namespace {

// The lister looks at no more interfaces than its table holds.
constexpr int kTableSize = 8;

int NetInterfaceInfoCompare(const void *a, const void *b)
{
    return strcmp(static_cast<const KORVNETIFINFO *>(a)->szIfName, static_cast<const KORVNETIFINFO *>(b)->szIfName);
}

// The names of "/proc/net/dev" in file order, at most kTableSize: the count, or -1.
int ReadNames(char (&names)[kTableSize][IFNAMSIZ])
{
    korv::UniqueFile fp(fopen("/proc/net/dev", "r"));
    if (!fp)
        return -1;
    korv::LineReader lines(fp.get());
    int lineNo = 0, n = 0;
    while (n < kTableSize && lines.Next()) {
        if (++lineNo <= 2)
            continue;  // the two lines of column headers
        char *text = lines.data();
        text += strspn(text, " \t");
        char *colon = static_cast<char *>(memchr(text, ':', lines.size() - static_cast<size_t>(text - lines.data())));
        if (!colon)
            continue;
        size_t len = static_cast<size_t>(colon - text);
        // A name the kernel cannot have is never cut into one it can.
        if (len == 0 || len >= IFNAMSIZ || memchr(text, '\0', len))
            continue;
        memcpy(names[n], text, len);
        names[n][len] = '\0';
        ++n;
    }
    return lines.Failed() ? -1 : n;
}

}  // namespace

extern "C" int KORVNetGetInterfaceInfo(KORVNETIFINFO *records, int max, int kind)
{
    if (max < 0 || kind == 0 || kind == 4) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    unsigned exclude = IFF_LOOPBACK | IFF_POINTOPOINT;
    if (kind == 1)
        exclude |= IFF_MASTER;
    else if (kind == 2)
        exclude |= IFF_SLAVE;

    char names[kTableSize][IFNAMSIZ];
    int nNames = ReadNames(names);
    if (nNames < 0)
        return -1;
    korv::net::Socket sock = korv::net::OpenSocket();
    if (!sock)
        return -1;

    int count = 0;
    for (int i = 0; i < nNames && count < max; ++i) {
        struct ifreq ifr = korv::net::IfreqFor(names[i]);
        if (korv_plat_ioctl(sock.get(), SIOCGIFFLAGS, &ifr) != 0)
            continue;
        unsigned flags = static_cast<unsigned short>(ifr.ifr_flags);
        if (!(flags & IFF_UP) || (flags & exclude))
            continue;
        if (records) {
            KORVNETIFINFO *r = &records[count];
            memset(r->szIfName, 0, sizeof r->szIfName);
            memcpy(r->szIfName, names[i], strlen(names[i]));
            r->ifFlags = ifr.ifr_flags;  // a short: widened with its sign
            r->linkState = (flags & IFF_RUNNING) ? 2 : 0;
            ifr = korv::net::IfreqFor(names[i]);
            if (korv_plat_ioctl(sock.get(), SIOCGIFHWADDR, &ifr) == 0)
                memcpy(r->mac, ifr.ifr_hwaddr.sa_data, sizeof r->mac);
            ifr = korv::net::IfreqFor(names[i]);
            if (korv_plat_ioctl(sock.get(), SIOCGIFADDR, &ifr) == 0) {
                struct sockaddr_in in;
                memcpy(&in, &ifr.ifr_addr, sizeof in);
                char text[INET_ADDRSTRLEN];
                if (inet_ntop(AF_INET, &in.sin_addr, text, sizeof text))
                    memcpy(r->szIP, text, strlen(text) + 1);
            }
        }
        ++count;
    }
    if (records)
        qsort(records, static_cast<size_t>(count), sizeof *records, NetInterfaceInfoCompare);
    return count;
}
