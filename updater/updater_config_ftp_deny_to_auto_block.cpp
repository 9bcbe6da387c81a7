// The FTP server's deny list handed to auto-block: its addresses are blocked there, its own
// "ftpipautodeny" switch becomes auto-block's settings, and the deny list is emptied of what moved.
#include <syslog.h>

#include <memory>

#include "korv/autoblock.h"
#include "korv/error.h"
#include "korv/file.h"
#include "korv/ftp.h"
#include "korv/list.h"
#include "korv_settings.h"
#include "updater_config.h"

namespace {

const char kSource[] = "updater";
const char kKey[] = "ftpipautodeny";

struct ListFree {
    void operator()(KORLSZLIST *l) const { KORLSzListFree(l); }
};

// "ftpipautodeny" "yes" becomes auto-block's settings; the key goes once they are stored (or when
// it asked for nothing). Under lock_korvinfo, which the settings' writer takes again.
void ConvertSwitch()
{
    korv::LockedSettings settings;
    if (settings.Lock() != 0) {
        syslog(LOG_ERR, "%s:%d Failed to lock %s, korverr=[0x%04X]", kSource, __LINE__, KORV_INFO_CONF,
               KORLErrGet());
        return;
    }
    if (settings.Check(kKey, "yes") == 1) {
        const KORVAUTOBLOCKCONF conf{5, 10, 0, 0};
        if (KORVAutoBlockConfSet(&conf) != 0) {
            syslog(LOG_ERR, "%s:%d Failed to set autoblock config.", kSource, __LINE__);
            return;
        }
    }
    if (settings.Remove(kKey) < 0)
        syslog(LOG_ERR, "%s:%d Failed to remove [%s] from %s, korverr=[0x%04X]", kSource, __LINE__, kKey,
               KORV_INFO_CONF, KORLErrGet());
}

}  // namespace

int AutoBlockConvertFTPBlockIP(void)
{
    std::unique_ptr<KORLSZLIST, ListFree> holder(PslKORLSzListAlloc(1024));
    if (!holder) {
        syslog(LOG_ERR, "%s:%d Out of memory!!", kSource, __LINE__);
        return -1;
    }
    KORLSzListSort(holder.get(), 1);
    PKORLSZLIST list = holder.release();
    int n = ConnSecurityDenyIPEnum(&list);
    holder.reset(list);
    if (n < 0) {
        syslog(LOG_ERR, "%s:%d Failed to get FTP blocked ip list.", kSource, __LINE__);
        return -1;
    }
    if (holder->nItem == 0)
        return 0;

    ConvertSwitch();

    bool failed = false;
    for (int i = 0; i < holder->nItem; ++i) {
        const char *ip = SzKORLSzListGet(holder.get(), i);
        if (KORVAutoBlockIPAdd(ip) != 0) {
            syslog(LOG_ERR, "%s:%d KORVAutoBlockIPAdd() failed!! szIP=[%s], korverr=[0x%04X]", kSource, __LINE__, ip,
                   KORLErrGet());
            failed = true;
        }
    }
    if (failed)
        return 0;
    if (ConnSecurityDenyIPDelete(holder.get()) < 0) {
        syslog(LOG_ERR, "%s:%d Failed to delete FTP blocked hosts. korverr=[0x%04X]", kSource, __LINE__,
               KORLErrGet());
        return -1;
    }
    return 0;
}

int UPDTConfigFtpDenyToAutoBlock(void)
{
    if (AutoBlockConvertFTPBlockIP() >= 0)
        return 0;
    syslog(LOG_ERR, "%s:%d AutoBlockConvertFTPBlockIP() failed!!", kSource, __LINE__);
    return -1;
}
