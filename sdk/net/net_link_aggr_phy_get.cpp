// The slave ports of a bond, as the bonding driver lists them.
#include <stdio.h>

#include <string>

#include "korv/string.h"
#include "korv_internal.h"
#include "net_internal.h"

extern "C" int KORVNetLinkAggrPhyGet(const char *bond, PKORLSZLIST *list)
{
    if (!bond || !list || !*list || !korv::net::NameOk(bond)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    std::string line;
    if (korv::net::BondingLine(bond, "slaves", line) != 0)
        return -1;
    return KORLStrTok(line.data(), " \t\n", list);
}
