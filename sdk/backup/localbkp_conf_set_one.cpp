#include "korv/backup.h"
#include "korv_internal.h"
#include "localbkp_fields.h"

using namespace korv::backup;

namespace {

int FillLocal(const void *record, PKORLSZHASH *phash)
{
    auto *raw = const_cast<KORVLOCALBKPCONF *>(static_cast<const KORVLOCALBKPCONF *>(record));
    int dest = raw->dest_type;
    bool known = dest >= 0 && dest < static_cast<int>(std::size(kDestWords));
    if (KORLSzHashSetValue(phash, "dest_type", known ? kDestWords[dest] : "") < 0)
        return -1;
    for (const TextField &f : kLocalTexts) {
        const char *value = TextAt(raw, f.offset);
        if (KORLSzHashSetValue(phash, f.key, value ? value : "") < 0)
            return -1;
    }
    return PutInt(phash, "incrbkp", raw->incrbkp);
}

}  // namespace

extern "C" int KORVLocalBkpConfSetOne(const char *oldName, const KORVLOCALBKPCONF *conf)
{
    if (!conf) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return WriteSet(KORV_LOCALBKP_CONF, oldName, conf->szSection, conf, FillLocal);
}
