// The domain accounts of the user and group name stores.
#include <errno.h>
#include <string.h>

#include "korv/wins.h"
#include "korv_account_store.h"
#include "korv_bdb.h"
#include "korv_internal.h"
#include "korv_log_at.h"
#include "korv_rewrite.h"
#include "korv_upper_key.h"

namespace korv::bdb {

int DomainBuild(KORVBDB *names, const DomainAccounts &accounts, std::source_location loc)
{
    if (!names) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    char workgroup[1024] = "";
    int domainMode = 0, running = 0;
    // Whether samba runs is asked (under the settings' lock) only of a unit in domain mode.
    if (KORVWinsQuery1(workgroup, sizeof workgroup, &domainMode, nullptr) != 0 || !domainMode)
        return 0;
    running = SambaIsRunning();
    if (!running)
        return 0;
    UniqueFile fp(fopen(accounts.file, "re"));
    if (!fp) {
        LogAt(LOG_ERR, loc, "fopen(%s) failed. errno=%s", accounts.file, strerror(errno));
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    LineReader lr(fp.get());
    std::string key;
    bool any = false;
    while (lr.Next()) {
        size_t len;
        const char *text = lr.Text(&len);
        std::string line(text, len);
        size_t cut = line.rfind(':');
        if (cut == std::string::npos)
            continue;
        std::string name = line.substr(0, cut);
        // A domain name holds a backslash; any other would be taken for the local account of
        // that name and written into the account files.
        if (name.find('\\') == std::string::npos) {
            LogAt(LOG_ERR, loc, "%s: [%s] is no domain name, skipped", accounts.file, name.c_str());
            continue;
        }
        if (UpperKey(name.c_str(), key, accounts.keySize) != 0) {
            LogAt(LOG_ERR, loc, "KORLUnicodeUTF8StrUpper failed [%s]", name.c_str());
            if (accounts.skipUnkeyed && (name.empty() || KORLErrGet() == KORL_ERR_BAD_PARAM))
                continue;
            return -1;
        }
        if (StoreLine(names, key, name + accounts.fields) != 0) {
            LogAt(LOG_ERR, loc, "KORVBDbSet() failed! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        any = true;
    }
    if (!any)
        LogAt(LOG_ERR, loc, "%s", accounts.nothing);
    KORVBDbDomainExpireTimeSet(names);
    return 0;
}

}  // namespace korv::bdb
