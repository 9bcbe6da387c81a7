// The updater's spine: start-up, options, the flash layout, the working directory and the
// analysis; then the guards, the flash road and the end path.
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include "korv/raid.h"
#include "korv_staging_record.h"
#include "updater.h"
#include "updater_flash.h"
#include "updater_main.h"

namespace {

void Usage()
{
    printf("updater: the firmware updater of the Vaultmere unit\n");
    puts("updater [-h][-g][-v vol]");
    puts(" -g: for group update");
    puts(" -v: specify an avaible volume for upgrade task.");
}

enum class Options { Run, Help, Bad };

Options ReadOptions(int argc, char **argv)
{
    snprintf(gszVolume, sizeof gszVolume, "%s", "/volume1");
    int opt;
    while ((opt = getopt(argc, argv, "hgv:")) != -1) {
        switch (opt) {
        case 'h':
            Usage();
            return Options::Help;
        case 'g':
            gfGroupUpdate = 1;
            break;
        case 'v':
            // A volume cut to fit would be another directory.
            if (!*optarg || strlen(optarg) >= sizeof gszVolume) {
                syslog(LOG_ERR, "updater: invalid option [%c]\n", opt);
                syslog(LOG_ERR, "updater: the volume [%s] must have 1 to %zu characters\n", optarg,
                       sizeof gszVolume - 1);
                return Options::Bad;
            }
            snprintf(gszVolume, sizeof gszVolume, "%s", optarg);
            break;
        default:
            syslog(LOG_ERR, "updater: invalid option [%c]\n", opt);
            return Options::Bad;
        }
    }
    return Options::Run;
}

// The directory of the program's own path, else the volume's "upd@te". 0 or the code.
int FindWorkDir(const char *program)
{
    const char *slash = program ? strrchr(program, '/') : nullptr;
    if (!slash) {
        snprintf(gszWorkDir, sizeof gszWorkDir, "%s/upd@te", gszVolume);
        return 0;
    }
    size_t len = strlen(program);
    if (len >= sizeof gszWorkDir) {
        syslog(LOG_ERR, "%s(%d): the program path is too long (%zu characters, at most %zu)", UPDT_MAIN, __LINE__,
               len, sizeof gszWorkDir - 1);
        return UPDT_ERR_WORK_DIR;
    }
    size_t dirLen = static_cast<size_t>(slash - program);
    if (dirLen == 0) {
        strcpy(gszWorkDir, "/");  // a program at the root works in the root
    } else {
        memcpy(gszWorkDir, program, dirLen);
        gszWorkDir[dirLen] = '\0';
    }
    return 0;
}

}  // namespace

int UPDTMain(int argc, char **argv)
{
    UPDTMAINSTATE m;
    syslog(LOG_ERR, "%s(%d): Start of the updater...", UPDT_MAIN, __LINE__);
    m.stage = 'A';
    UPDTSetProgress(m.stage, 0);
    UPDTLogInit();
    UPDTLog("Start of the update...");

    switch (ReadOptions(argc, argv)) {
    case Options::Help:
        return 0;
    case Options::Bad:
        return UPDT_ERR_OPTION;
    case Options::Run:
        break;
    }

    gfJunior = KORVIsJuniorModel() ? 1 : 0;
    UPDTChooseLayout(gfJunior);
    syslog(LOG_ERR, "This is %s, gszDevMtdPartition=[%s]", gfJunior ? "junior" : "not junior", gszDevMtdPartition);
    if (access("/initrd", F_OK) != 0)
        gfInstaller = 1;

    m.callerDir.reset(open(".", O_RDONLY | O_CLOEXEC));
    if (!m.callerDir) {
        syslog(LOG_ERR, "%s(%d): fail to open current directory. errno=%d", UPDT_MAIN, __LINE__, errno);
        m.code = UPDT_ERR_DIR_OPEN;
        return UPDTEndPath(&m, true);
    }

    if ((m.code = FindWorkDir(argc > 0 ? argv[0] : nullptr)) != 0)
        return UPDTEndPath(&m);
    if (chdir(gszWorkDir) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to chdir, errno = %d", UPDT_MAIN, __LINE__, errno);
        m.code = UPDT_ERR_WORK_DIR;
        return UPDTEndPath(&m);
    }
    if (!getcwd(gszWorkDir, sizeof gszWorkDir)) {
        syslog(LOG_ERR, "%s(%d): fail to get the working directory, errno = %d", UPDT_MAIN, __LINE__, errno);
        m.code = UPDT_ERR_WORK_DIR;
        return UPDTEndPath(&m);
    }
    UPDTSetProgress(m.stage, 10);
    if ((m.code = UPDTRefuseOldBackup(UPDT_MAIN)) != 0)
        return UPDTEndPath(&m);
    // The copies a killed run left go; this run's own are noted from here on.
    korv::StagingRecordBegin(UPDT_STAGING_FILE);

    if (!gfGroupUpdate) {
        if ((m.code = ErrUPDTIAnalyze_WholeSystem()) != 0) {
            syslog(LOG_ERR, "%s(%d): fail to analyze, error = %d", UPDT_MAIN, __LINE__, m.code);
            return UPDTEndPath(&m);
        }
        UPDTSetProgress(m.stage, 100);
    }

    if ((m.code = UPDTGuardFlash(&m)) != 0)
        return UPDTEndPath(&m);
    m.code = UPDTFlashRoad(&m);
    return UPDTEndPath(&m);
}
