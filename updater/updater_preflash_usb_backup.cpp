// The USB backup settings become the local backup set "MyBackupSet", its schedule included.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "korv/backup.h"
#include "korv/error.h"
#include "korv/file.h"
#include "korv/list.h"
#include "korv/schedule.h"
#include "korv/share.h"
#include "korv/string.h"
#include "updater.h"
#include "updater_preflash.h"

namespace {

const char kLocalConf[] = "/etc/korvlocalbkp.conf";
const char kDefaults[] = "/etc.defaults/korvinfo.conf";
const char kSetName[] = "MyBackupSet";
const char kUsbCommand[] = "/usr/korv/bin/korvusbbkp";
const char kLocalCommand[] = "/usr/korv/bin/korvlocalbkp";
const char *const kUsbKeys[] = {"usbbkpshares", "usbbkpid", "usbbkpresult"};
constexpr int kShareBytes = 493;

struct ListFree {
    void operator()(KORLSZLIST *l) const { KORLSzListFree(l); }
};
struct MemFree {
    void operator()(char *p) const { free(p); }
};

bool ReadKey(const char *file, const char *key, char *buf, int size)
{
    if (KORLFileGetKeyValue(file, key, buf, size, 0) >= 0)
        return true;
    syslog(LOG_ERR, "%s:%d KORLFileGetKeyValue() failed!! szFile=[%s], szKey=[%s], korverr=[0x%04X]", UPDT_SOURCE,
           __LINE__, file, key, KORLErrGet());
    return false;
}

// Every ordinary share, joined with ","; empty when they cannot be listed.
std::string OrdinaryShares()
{
    std::unique_ptr<KORLSZLIST, ListFree> list(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
    if (!list) {
        syslog(LOG_ERR, "%s:%d Out of memory!! size=[%d]", UPDT_SOURCE, __LINE__, KORL_SZLIST_MIN_SIZE);
        return "";
    }
    PKORLSZLIST raw = list.release();
    int count = KORVShareEnum(&raw, 1);
    list.reset(raw);
    if (count < 0) {
        syslog(LOG_ERR, "%s:%d Fail to enum local shares!! korverr=[0x%04X]", UPDT_SOURCE, __LINE__, KORLErrGet());
        return "";
    }
    if (count == 0)
        return "";
    std::vector<const char *> items;
    for (int i = 0; i < list->nItem; ++i)
        items.push_back(SzKORLSzListGet(list.get(), i));
    char *joined = nullptr;
    int size = 0;
    if (KORLStrJoin(items.data(), static_cast<int>(items.size()), ",", &joined, &size) < 0) {
        syslog(LOG_ERR, "%s:%d KORLStrJoin() failed!! korverr=[0x%04X]", UPDT_SOURCE, __LINE__, KORLErrGet());
        free(joined);
        return "";
    }
    std::unique_ptr<char, MemFree> owned(joined);
    return joined;
}

// The last backup's time from the id's leading digits, "YYYY/MM/DD hh:mm"; empty without them.
std::string LastTime(const char *id)
{
    int year, month, day, hour, minute, second;
    if (sscanf(id, "%04d%02d%02d%02d%02d%02d-", &year, &month, &day, &hour, &minute, &second) != 6)
        return "";
    char buf[32];
    snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d", year, month, day, hour, minute);
    return buf;
}

void MoveSchedule()
{
    KORVSCHEDULE schedule;
    memset(&schedule, 0, sizeof schedule);
    int found = KORVScheduleGet(kUsbCommand, &schedule);
    if (found < 0) {
        syslog(LOG_ERR, "%s:%d Failed to get backup schedule. szCmd=[%s] errno=[0x%04X]", UPDT_SOURCE, __LINE__,
               kUsbCommand, KORLErrGet());
        return;
    }
    if (found == 0)
        return;
    snprintf(schedule.szCommand, sizeof schedule.szCommand, "%s -a \"%s\"", kLocalCommand, kSetName);
    // The old line goes only once the new one is written: a failed set keeps the USB schedule.
    if (KORVScheduleSet(&schedule) < 0) {
        syslog(LOG_ERR, "%s:%d KORVScheduleSet() failed!! szCmd=[%s], errno=[0x%04X]", UPDT_SOURCE, __LINE__,
               schedule.szCommand, KORLErrGet());
        return;
    }
    if (KORVScheduleRemove(kUsbCommand) < 0)
        syslog(LOG_ERR, "%s:%d KORVScheduleRemove() failed!! szCmd=[%s], korverr=[0x%04X]", UPDT_SOURCE, __LINE__,
               kUsbCommand, KORLErrGet());
}

// The USB settings and schedule, once the set stands in their place.
void ForgetUsbBackup()
{
    for (const char *key : kUsbKeys) {
        std::string pattern = std::string(key) + "=";
        if (KORLFileSetLine(KORV_INFO_CONF, pattern.c_str(), nullptr, OP_MATCH_PREFIX) < 0)
            syslog(LOG_ERR, "%s:%d File to remove the line [%s]!! szFile=[%s],  korverr=[0x%04X]", UPDT_SOURCE,
                   __LINE__, key, KORV_INFO_CONF, KORLErrGet());
    }
    MoveSchedule();
}

// The local backup settings hold the set this conversion makes: a run killed after it wrote the
// set left the USB settings or schedule to be removed.
bool SetMadeBefore()
{
    void **sets = nullptr;
    int count = KORVBackupConfGetAll(&sets, BACKUP_TYPE_LOCALBKP);
    bool made = false;
    for (int i = 0; i < count && !made; ++i) {
        const auto *set = static_cast<const KORVLOCALBKPCONF *>(sets[i]);
        made = set && set->szSection && strcmp(set->szSection, kSetName) == 0 && set->dest_type == 3 &&
               set->dest_share && strcmp(set->dest_share, "usbbackup") == 0;
    }
    if (count > 0)
        KORVBackupConfFreeAll(sets, count, BACKUP_TYPE_LOCALBKP);
    return made;
}

}  // namespace

int ConvertUSBBackupToLocalBackup(void)
{
    struct stat st;
    if (stat(kLocalConf, &st) == 0) {
        if (SetMadeBefore())
            ForgetUsbBackup();
        return 0;
    }
    char maxShares[32] = {};
    if (!ReadKey(kDefaults, "maxshares", maxShares, sizeof maxShares))
        return 0;
    // Room for one share at least, when the defaults name no limit.
    int size = std::max(atoi(maxShares), 1) * kShareBytes;
    std::vector<char> shares(size, '\0');
    if (!ReadKey(KORV_INFO_CONF, "usbbkpshares", shares.data(), size))
        return 0;
    std::string shareList = shares.data();
    if (shareList.empty())
        shareList = OrdinaryShares();
    char id[28] = {}, result[64] = {};
    if (!ReadKey(KORV_INFO_CONF, "usbbkpid", id, sizeof id) ||
        !ReadKey(KORV_INFO_CONF, "usbbkpresult", result, sizeof result))
        return 0;
    std::string lastTime = id[0] ? LastTime(id) : "";

    std::string name = kSetName, destShare = "usbbackup", apps;
    KORVLOCALBKPCONF set;
    memset(&set, 0, sizeof set);
    set.dest_type = 3;
    set.incrbkp = 0;
    set.szSection = name.data();
    set.dest_id = id;
    set.dest_share = destShare.data();
    set.bkp_shares = shareList.data();
    set.bkp_apps = apps.data();
    set.last_bkp_time = lastTime.data();
    set.last_bkp_result = result;
    if (KORVLocalBkpConfSetOne(nullptr, &set) < 0) {
        syslog(LOG_ERR, "%s:%d KORVLocalBkpConfSetOne() failed!! korverr=[0x%04X]", UPDT_SOURCE, __LINE__,
               KORLErrGet());
        return 0;
    }
    ForgetUsbBackup();
    return 0;
}
