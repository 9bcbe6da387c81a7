// The IPv4 test of the address lists: a host address of class A, B or C outside the loopback net.
#include "korv/net.h"
#include "korv_internal.h"

extern "C" int KORVNetIsIPAddr(const char *text)
{
    int n[4];
    if (KORVNetSepIP(text, n) != 4)
        return 0;
    if (n[0] < 1 || n[0] > 223 || n[0] == 127) {
        KORV_ERR(KORL_ERR_NOT_IPV4);
        return 0;
    }
    // Compared unsigned, so a negative number fails too.
    if (static_cast<unsigned>(n[1]) > 255 || static_cast<unsigned>(n[2]) > 255) {
        KORV_ERR(KORL_ERR_NOT_IPV4);
        return 0;
    }
    if (static_cast<unsigned>(n[3]) > 254) {
        KORV_ERR(KORL_ERR_NOT_IPV4);
        return 0;
    }
    return 1;
}
