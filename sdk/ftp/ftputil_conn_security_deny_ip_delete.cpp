#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <vector>

#include "korv/ftp.h"
#include "korv/hash.h"
#include "korv/list.h"
#include "korv/string.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "korv_unique.h"

namespace {

const char kTemp[] = "/etc/hosts.deny.tmp";

// True when the line names one of the addresses (its second ":" field, trimmed); false for
// comments, empty lines and lines without that field. -1 in *failed when trimming failed.
bool Denied(const char *line, size_t len, PKORLSZHASH addresses, bool *failed)
{
    std::vector<char> work(line, line + len + 1);
    if (KORLStrTrimSpace(work.data(), nullptr) < 0) {
        KORV_LOG("KORLStrTrimSpace error!!");
        *failed = true;
        return false;
    }
    if (work[0] == '#' || work[0] == '\0')
        return false;
    char *second = strchr(work.data(), ':');
    if (!second)
        return false;
    ++second;
    second[strcspn(second, ":")] = '\0';
    if (KORLStrTrimSpace(second, nullptr) < 0) {
        KORV_LOG("KORLStrTrimSpace error!!");
        *failed = true;
        return false;
    }
    return SzKORLSzHashGetValue(addresses, second) != nullptr;
}

int DeleteLines(PKORLSZLIST list, PKORLSZHASH *addresses)
{
    for (int i = 0; i < list->nItem; ++i) {
        const char *address = SzKORLSzListGet(list, i);
        if (address && *address && KORLSzHashSetValue(addresses, address, "") < 0)
            return -1;
    }
    korv::UniqueFile in(fopen(KORV_HOSTS_DENY, "r"));
    if (!in) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    struct stat st {};
    const mode_t mode = fstat(fileno(in.get()), &st) == 0 ? st.st_mode & 07777 : 0644;
    // A link or anything else left at the temporary name is never followed.
    unlink(kTemp);
    korv::UniqueFd fd(open(kTemp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    korv::UniqueFile out(fd ? fdopen(fd.get(), "w") : nullptr);
    if (!out) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    fd.release();
    struct RemoveTemp {
        bool armed = true;
        ~RemoveTemp()
        {
            if (armed)
                unlink(kTemp);
        }
    } removeTemp;

    int dropped = 0;
    bool failed = false;
    korv::LineReader line(in.get());
    while (line.Next()) {
        if (Denied(line.data(), strnlen(line.data(), line.size()), *addresses, &failed)) {
            ++dropped;
            continue;
        }
        if (failed)
            return -1;
        if (fwrite(line.data(), 1, line.size(), out.get()) != line.size()) {
            KORV_ERR(KORL_ERR_WRITE);
            KORV_LOG("fputs(szBuf, pfStreamOut) failed; [szBuf] == [%s]", line.data());
            return -1;
        }
    }
    if (line.Failed() || !feof(in.get()) || ferror(out.get()))
        return -1;
    in.reset();
    bool ok = true;
    if (fflush(out.get()) != 0) {
        KORV_LOG("fflush(pfStreamOut) failed!");
        ok = false;
    }
    if (fsync(fileno(out.get())) != 0) {
        KORV_LOG("fsync(fileno(pfStreamOut)) failed!");
        ok = false;
    }
    fchmod(fileno(out.get()), mode);
    if (out.close() != 0) {
        KORV_LOG("fclose(pfStreamOut) failed!");
        ok = false;
    }
    if (!ok)
        return -1;
    // Nothing dropped: the deny file stays as it is, and the copy goes.
    if (dropped == 0)
        return 0;
    if (rename(kTemp, KORV_HOSTS_DENY) != 0) {
        KORV_ERR(KORL_ERR_RENAME);
        return -1;
    }
    removeTemp.armed = false;
    return dropped;
}

}  // namespace

extern "C" int ConnSecurityDenyIPDelete(PKORLSZLIST list)
{
    if (!list) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const int pool = list->nItem * 16 > 512 ? list->nItem * 16 : 512;
    korv::HashHolder addresses(PshKORLSzHashAlloc(pool));
    if (!addresses) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    const int result = KORV_GUARDED(-1, { return DeleteLines(list, addresses.addr()); });
    if (result < 0)
        KORV_LOG("NetBackupIModifyConf(&pshHashDel) failed");
    return result;
}
