#include <errno.h>
#include <string.h>

#include "group_internal.h"
#include "korv/wins.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_rewrite.h"

namespace korv::group {

int GroupDBDomainBuild(KORVBDB *nameStore)
{
    return KORV_GUARDED(-1, {
        if (!nameStore) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        char workgroup[1024] = "";
        int domainMode = 0, running = 0;
        if (KORVWinsQuery1(workgroup, sizeof workgroup, &domainMode, &running) != 0 || !running || !domainMode)
            return 0;
        korv::UniqueFile fp(fopen(KORV_DOMAIN_GROUP_FILE, "re"));
        if (!fp) {
            KORV_LOG("fopen(%s) failed. errno=%s", KORV_DOMAIN_GROUP_FILE, strerror(errno));
            KORV_ERR(KORL_ERR_OPEN);
            return -1;
        }
        korv::LineReader lr(fp.get());
        std::string key;
        bool any = false;
        while (lr.Next()) {
            std::string line(lr.data(), strnlen(lr.data(), lr.TextSize()));
            size_t cut = line.rfind(':');
            if (cut == std::string::npos)
                continue;
            std::string name = line.substr(0, cut);
            if (korv::UpperKey(name.c_str(), key, kDomainKeySize) != 0) {
                KORV_LOG("KORLUnicodeUTF8StrUpper failed [%s]", name.c_str());
                // A name too long for its key, or none at all, is left out; anything else fails.
                if (name.empty() || KORLErrGet() == KORL_ERR_BAD_PARAM)
                    continue;
                return -1;
            }
            if (StoreLine(nameStore, key, name + ":x:-1:") != 0) {
                KORV_LOG("KORVBDbSet() failed! korverr=0x%04X", KORLErrGet());
                return -1;
            }
            any = true;
        }
        if (!any)
            KORV_LOG("domain group build nothing");
        KORVBDbDomainExpireTimeSet(nameStore);
        return 0;
    });
}

}  // namespace korv::group
