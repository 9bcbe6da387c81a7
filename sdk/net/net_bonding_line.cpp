// The one-line files of the bonding driver.
#include <stdio.h>

#include "korv_rewrite.h"
#include "net_internal.h"

namespace korv::net {

int BondingLine(const char *bond, const char *file, std::string &line, std::source_location loc)
{
    std::string path = std::string("/sys/class/net/") + bond + "/bonding/" + file;
    UniqueFile fp(fopen(path.c_str(), "r"));
    if (!fp) {
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    LineReader lr(fp.get());
    if (!lr.Next()) {
        ErrAt(KORL_ERR_READ, loc);
        return -1;
    }
    line.assign(lr.data(), lr.size());
    return 0;
}

}  // namespace korv::net
