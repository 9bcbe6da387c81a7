#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include "ftp_internal.h"
#include "korv/ftp.h"
#include "korv/list.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_unique.h"

extern "C" int KORVFTPDeleteChrootUser(PKORLSZLIST list)
{
    if (!list)
        return -1;
    static constexpr korv::ftp::ChrootWalkFailures kFailures = {
        [] {
            syslog(LOG_ERR, "%s(%d) fopen failed!! err=[%s]\n", "KORVFTPDeleteChrootUser", __LINE__,
                   strerror(errno));
        },
        [] { KORV_ERR(KORL_ERR_READ); },
    };
    korv::FileRewrite rw(KORV_FTP_CHROOT_CONF);
    const int walked = korv::ftp::WalkChrootNames(
        kFailures, [&](int fd) { return rw.Begin(fd) == 0; },
        [&](char *name, std::string_view line) {
            return KORLSzListCaseFind(list, name) >= 0 || korv::ftp::PutKeptLine(rw, line);
        });
    if (walked != 0)
        return walked == 1 ? 0 : -1;
    return rw.Commit() < 0 ? -1 : 0;
}
