// The network backup sets: each set backs up the share named after it, and its configuration
// backup moves into the set's "@app" folder.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>

#include <memory>

#include "korv/backup.h"
#include "korv/error.h"
#include "updater.h"
#include "updater_preflash.h"

namespace {

const char kNetBackupDir[] = "/var/services/NetBackup";
const char kConfigBackup[] = "configbackup.dss";
constexpr size_t kPathSize = 1024;

struct DirCloser {
    void operator()(DIR *d) const { closedir(d); }
};

}  // namespace

void UpdateNetBackupConfigPath(void)
{
    std::unique_ptr<DIR, DirCloser> dir(opendir(kNetBackupDir));
    if (!dir)
        return;
    while (const dirent *e = readdir(dir.get())) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        char setDir[kPathSize], file[kPathSize], app[kPathSize], target[kPathSize];
        struct stat st;
        // Only the sets' own folders: a link could lead the move anywhere.
        if (snprintf(setDir, sizeof setDir, "%s/%s", kNetBackupDir, e->d_name) >= static_cast<int>(sizeof setDir) ||
            lstat(setDir, &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        if (snprintf(file, sizeof file, "%s/%s", setDir, kConfigBackup) >= static_cast<int>(sizeof file) ||
            snprintf(app, sizeof app, "%s/@app", setDir) >= static_cast<int>(sizeof app) ||
            snprintf(target, sizeof target, "%s/%s", app, kConfigBackup) >= static_cast<int>(sizeof target))
            continue;
        if (stat(file, &st) != 0)
            continue;
        if (stat(app, &st) != 0) {
            if (errno != ENOENT) {
                syslog(LOG_ERR, "%s:%d Failed to stat [%s], errno=[%d/%m]", UPDT_SOURCE, __LINE__, app, errno);
                continue;
            }
            if (mkdir(app, 0777) != 0) {
                syslog(LOG_ERR, "%s:%d Failed to mkdir!! szPath=[%s], errno=[%d/%m]", UPDT_SOURCE, __LINE__, app,
                       errno);
                continue;
            }
            if (chmod(app, 0777) != 0)
                syslog(LOG_ERR, "%s:%d Failed to chmod!! szPath=[%s], errno=[%d/%m]", UPDT_SOURCE, __LINE__, app,
                       errno);
        }
        // A rename in place of "mv" through a shell: a set's name is never a command.
        if (rename(file, target) != 0)
            syslog(LOG_ERR, "%s:%d Failed to move [%s] into [%s], errno=[%d/%m]", UPDT_SOURCE, __LINE__, file, app,
                   errno);
    }
}

int UpdateNetBackupSets(void)
{
    void **array = nullptr;
    int count = KORVBackupConfGetAll(&array, BACKUP_TYPE_NETBKP);
    if (count < 0) {
        syslog(LOG_ERR, "%s:%d KORVBackupConfGetAll() failed!! bkptype=[BACKUP_TYPE_NETBKP], korverr=[0x%04X]",
               UPDT_SOURCE, __LINE__, KORLErrGet());
    } else {
        auto **sets = reinterpret_cast<KORVNETBKPCONF **>(array);
        for (int i = 0; i < count; ++i) {
            KORVNETBKPCONF *set = sets[i];
            if (!set || !set->szSection)
                continue;
            char *shares = strdup(set->szSection);
            if (!shares) {
                syslog(LOG_ERR, "%s:%d out of memory!! szOldBkpset=[%s]", UPDT_SOURCE, __LINE__, set->szSection);
                continue;
            }
            free(set->bkp_shares);
            set->bkp_shares = shares;
            if (KORVNetBkpConfSetOne(set->szSection, set) < 0)
                syslog(LOG_ERR, "%s:%d KORVNetBkpConfSetOne() failed!! szOldBkpset=[%s], korverr=[0x%04X]",
                       UPDT_SOURCE, __LINE__, set->szSection, KORLErrGet());
        }
        KORVNetBkpConfArrayFree(sets, count);
    }
    UpdateNetBackupConfigPath();
    return 0;
}
