#include <stdlib.h>
#include <string.h>

#include "korv/backup.h"
#include "korv_internal.h"
#include "localbkp_fields.h"

using namespace korv::backup;

extern "C" KORVLOCALBKPCONF *KORVLocalBkpConfAlloc(const char *section, PKORLSZHASH keys)
{
    if (!section || !*section || !keys) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    auto *conf = static_cast<KORVLOCALBKPCONF *>(calloc(1, sizeof(KORVLOCALBKPCONF)));
    if (!conf) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return nullptr;
    }
    if (CopyTexts(conf, conf->szSection, section, keys, kLocalTexts, std::size(kLocalTexts)) < 0) {
        KORVLocalBkpConfFree(conf);
        return nullptr;
    }
    conf->dest_type = KORV_LOCALBKP_DEST_NONE;
    if (const char *word = SzKORLSzHashGetValue(keys, "dest_type")) {
        for (int i = 0; i < static_cast<int>(std::size(kDestWords)); ++i) {
            if (strcmp(word, kDestWords[i]) == 0)
                conf->dest_type = i;
        }
    }
    const char *incr = SzKORLSzHashGetValue(keys, "incrbkp");
    conf->incrbkp = incr ? atoi(incr) : 0;
    return conf;
}

extern "C" void KORVLocalBkpConfFree(KORVLOCALBKPCONF *conf)
{
    if (conf)
        FreeTexts(conf, conf->szSection, kLocalTexts, std::size(kLocalTexts));
}
