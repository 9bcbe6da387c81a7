#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include "ftp_internal.h"
#include "korv/file.h"
#include "korv/ftp.h"
#include "korv/list.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "korv_unique.h"

extern "C" int KORVFTPEnumChrootUser(PKORLSZLIST *plist)
{
    if (!plist || !*plist)
        return -1;
    korv::ListHolder domain(PslKORLSzListAlloc(1024));
    if (!domain) {
        KORV_LOG_PAREN("Failed to malloc for list.");
        return -1;
    }
    KORLSzListSort(*plist, KORL_SZLIST_CASESORT);
    KORLSzListSort(domain.get(), KORL_SZLIST_CASESORT);
    // Both lists go back to unsorted on every return.
    struct Unsort {
        PKORLSZLIST *list;
        korv::ListHolder *domain;
        ~Unsort()
        {
            KORLSzListSort(*list, KORL_SZLIST_UNSORTED);
            KORLSzListSort(domain->get(), KORL_SZLIST_UNSORTED);
        }
    } unsort{plist, &domain};
    const bool userHome = KORLFileCheckKeyValue(KORV_INFO_CONF, "enableduserhome", "yes", 0) == 1;

    static constexpr auto kOpenFailed = [] {
        syslog(LOG_ERR, "%s(%d) fopen failed!! err=[%s]\n", __FILE_NAME__, __LINE__, strerror(errno));
    };
    static constexpr korv::ftp::ChrootWalkFailures kFailures = {kOpenFailed, kOpenFailed};
    const int walked = korv::ftp::WalkChrootNames(kFailures, [&](char *name, std::string_view) {
        const bool isDomain = strchr(name, '\\') != nullptr;
        if (isDomain && !userHome)
            return true;
        if (KORLSzListPush(isDomain ? domain.addr() : plist, name) < 0) {
            syslog(LOG_ERR, "%s(%d) KORLSzListPush failed!! err=[%d]", __FILE_NAME__, __LINE__, KORLErrGet());
            return false;
        }
        return true;
    });
    if (walked != 0)
        return walked == 1 ? 0 : -1;
    KORLSzListSort(*plist, KORL_SZLIST_UNSORTED);
    KORLSzListSort(domain.get(), KORL_SZLIST_UNSORTED);
    if (userHome && domain->nItem > 0 && !PslKORLSzListOr(plist, domain.get(), 0))
        return -1;
    return (*plist)->nItem;
}
