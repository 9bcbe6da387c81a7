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
    korv::UniqueFile fp(fopen(KORV_FTP_CHROOT_CONF, "r"));
    if (!fp) {
        if (errno == ENOENT)
            return 0;
        syslog(LOG_ERR, "%s(%d) fopen failed!! err=[%s]\n", "KORVFTPDeleteChrootUser", __LINE__, strerror(errno));
        return -1;
    }
    korv::FileRewrite rw(KORV_FTP_CHROOT_CONF);
    if (rw.Begin(fileno(fp.get())) < 0)
        return -1;
    korv::LineReader line(fp.get());
    while (line.Next()) {
        size_t len = 0;
        char *name = korv::ftp::ChrootName(line.Text(&len));
        if (!name || KORLSzListCaseFind(list, name) >= 0)
            continue;
        if (rw.PutLine(name) < 0)
            return -1;
    }
    if (line.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return rw.Commit() < 0 ? -1 : 0;
}
