// The FTP chroot list follows the renamed users.
#include <string.h>

#include "korv/ftp.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "user_internal.h"

namespace {

int Rename(const unsigned char *flags, const char *const *oldNames, KORVUSER *const *users, int n)
{
    korv::ListHolder gone(PslKORLSzListAlloc(1024)), added(PslKORLSzListAlloc(1024)), chroot(PslKORLSzListAlloc(1024));
    if (!gone || !added || !chroot) {
        KORV_LOG("Failed to malloc list.");
        return -1;
    }
    KORLSzListSort(chroot.get(), 0x10);
    if (KORVFTPEnumChrootUser(chroot.addr()) < 0) {
        KORV_LOG("KORVFTPEnumChrootUser failed!! korverr=0x%04X", KORLErrGet());
        return -1;
    }
    for (int i = 0; i < n; i++) {
        const char *old = oldNames[i];
        if (!flags[i] || !old || !users[i] || !users[i]->szName || strcmp(old, users[i]->szName) == 0 ||
            KORLSzListCaseFind(chroot.get(), old) < 0)
            continue;
        if (KORLSzListPush(gone.addr(), old) < 0 || KORLSzListPush(added.addr(), users[i]->szName) < 0) {
            KORV_LOG("KORLSzListPush failed!! korverr=0x%04X", KORLErrGet());
            return -1;
        }
    }
    if (gone->nItem > 0 && added->nItem > 0) {
        if (KORVFTPDeleteChrootUser(gone.get()) != 0) {
            KORV_LOG("KORVFTPDeleteChrootUser failed!! korverr=0x%04X", KORLErrGet());
            return -1;
        }
        if (KORVFTPAddChrootUser(added.get()) != 0) {
            KORV_LOG("KORVFTPAddChrootUser failed!! korverr=0x%04X", KORLErrGet());
            return -1;
        }
    }
    return 0;
}

}  // namespace

extern "C" int UserSetFTPChroot(const unsigned char *flags, const char *const *oldNames, KORVUSER *const *users, int n)
{
    if (!flags || !oldNames || !users || n < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return KORV_GUARDED(-1, { return Rename(flags, oldNames, users, n); });
}
