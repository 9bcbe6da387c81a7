#include "korv/backup.h"
#include "korv_internal.h"
#include "netbkp_fields.h"

using namespace korv::backup;

namespace {

int FillNet(const void *record, PKORLSZHASH *phash)
{
    auto *conf = static_cast<const KORVNETBKPCONF *>(record);
    auto *raw = const_cast<KORVNETBKPCONF *>(conf);
    for (const TextField &f : kNetTexts) {
        if (PutText(phash, f.key, TextAt(raw, f.offset)) < 0)
            return -1;
    }
    for (const IntField &f : kNetInts) {
        if (PutInt(phash, f.key, IntAt(raw, f.offset)) < 0)
            return -1;
    }
    return 0;
}

}  // namespace

extern "C" int KORVNetBkpConfSetOne(const char *oldName, const KORVNETBKPCONF *conf)
{
    if (!conf) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return WriteSet(KORV_NETBKP_CONF, oldName, conf->szSection, conf, FillNet);
}
