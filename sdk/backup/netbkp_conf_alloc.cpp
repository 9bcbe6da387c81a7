#include <stdlib.h>

#include "korv/backup.h"
#include "korv_internal.h"
#include "netbkp_fields.h"

using namespace korv::backup;

extern "C" KORVNETBKPCONF *KORVNetBkpConfAlloc(const char *section, PKORLSZHASH keys)
{
    if (!section || !*section || !keys) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    auto *conf = static_cast<KORVNETBKPCONF *>(calloc(1, sizeof(KORVNETBKPCONF)));
    if (!conf) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    if (CopyTexts(conf, conf->szSection, section, keys, kNetTexts, std::size(kNetTexts)) < 0) {
        KORVNetBkpConfFree(conf);
        return nullptr;
    }
    for (const IntField &f : kNetInts) {
        const char *value = SzKORLSzHashGetValue(keys, f.key);
        IntAt(conf, f.offset) = value ? atoi(value) : f.absent;
    }
    return conf;
}

extern "C" void KORVNetBkpConfFree(KORVNETBKPCONF *conf)
{
    if (conf)
        FreeTexts(conf, conf->szSection, kNetTexts, std::size(kNetTexts));
}
