// The slave ports of a bond, as the bonding driver lists them.
#include <stdio.h>

#include <string>

#include "korv/string.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "net_internal.h"

extern "C" int KORVNetLinkAggrPhyGet(const char *bond, PKORLSZLIST *list)
{
    if (!bond || !list || !*list || !korv::net::NameOk(bond)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    std::string path = std::string("/sys/class/net/") + bond + "/bonding/slaves";
    korv::UniqueFile fp(fopen(path.c_str(), "r"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    korv::LineReader line(fp.get());
    if (!line.Next()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return KORLStrTok(line.data(), " \t\n", list);
}
