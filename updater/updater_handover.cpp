// The end of a flash road: the package's data archive handed over to the new firmware on the
// volume, and the clean-shutdown mark of the RedBoot road.
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "korv/raid.h"
#include "updater.h"
#include "updater_flash.h"
#include "updater_main.h"

void UPDTHandOverArchive(const char *func)
{
    std::string archive = std::string(gszWorkDir) + "/hda1.tgz";
    if (access(archive.c_str(), F_OK) != 0)
        return;
    if (UPDTExecute("/bin/mv -f %s/%s %s/%s", {gszWorkDir, "hda1.tgz", gszVolume, "KorvUpgrade.tar.gz"}) != 0)
        syslog(LOG_ERR, "%s(%d): mv %s to %s/%s fail.", func, __LINE__, "hda1.tgz", gszVolume, "KorvUpgrade.tar.gz");
}

void UPDTMarkNormalShutdown(void)
{
    // The new firmware reads the mark on the system partition; the installer has it mounted
    // only once this mount is done. Failures are left to the messages of the commands.
    if (gfInstaller) {
        UPDTExecute(KORVConfSupportRaid() ? "mount /dev/md0 /tmpRoot" : "mount /dev/hda1 /tmpRoot");
        UPDTExecute("touch /tmpRoot/.NormalShutdown");
    } else {
        UPDTExecute("touch /.NormalShutdown");
    }
}
