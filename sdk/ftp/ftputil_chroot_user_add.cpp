#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include "ftp_internal.h"
#include "korv/ftp.h"
#include "korv/list.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_unique.h"

namespace {

// Writes each name of list as a line; gaps are no names.
template <typename PutLine>
bool PutNames(PKORLSZLIST list, PutLine &&put)
{
    for (int i = 0; i < list->nItem; ++i) {
        const char *name = SzKORLSzListGet(list, i);
        if (name && *name && !put(name))
            return false;
    }
    return true;
}

// A missing list is written in place with the names. A dangling link or anything else that
// appeared at the path meanwhile is not followed.
int CreateList(PKORLSZLIST list)
{
    korv::UniqueFd fd(open(KORV_FTP_CHROOT_CONF, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    korv::UniqueFile fp(fd ? fdopen(fd.get(), "w") : nullptr);
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    fd.release();
    const bool written = PutNames(list, [&](const char *name) { return fprintf(fp.get(), "%s\n", name) >= 0; });
    if (!written || fflush(fp.get()) != 0 || fp.close() != 0) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int KORVFTPAddChrootUser(PKORLSZLIST list)
{
    if (!list)
        return -1;
    static constexpr korv::ftp::ChrootWalkFailures kFailures = {
        [] { KORV_ERR(KORL_ERR_OPEN); },
        [] { KORV_ERR(KORL_ERR_READ); },
    };
    korv::FileRewrite rw(KORV_FTP_CHROOT_CONF);
    const int walked = korv::ftp::WalkChrootNames(
        kFailures, [&](int fd) { return rw.Begin(fd) == 0; },
        [&](char *name, std::string_view line) {
            // The file's spelling stays; the caller's name is not added again.
            const int found = KORLSzListCaseFind(list, name);
            if (found >= 0)
                SzKORLSzListRemove(list, found);
            return korv::ftp::PutKeptLine(rw, line);
        });
    // Only a list that does not exist is created; one that cannot be read stays as it is.
    if (walked == 1)
        return CreateList(list);
    if (walked < 0)
        return -1;
    if (!PutNames(list, [&](const char *name) { return rw.PutLine(name) == 0; }))
        return -1;
    return rw.Commit() < 0 ? -1 : 0;
}
