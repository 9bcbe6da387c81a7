// The firmware updater: the run state that every stage shares, its tables and its stages.
#pragma once

#include <stdint.h>

#include <initializer_list>
#include <string>

#include "korv/mtd.h"
#include "korv_command.h"

// "%s:%d" messages of the updater name its source file as the device's tools know it.
#define UPDT_SOURCE "updater.cpp"

// Exit codes; each from 0 to 24 has a message key in gszUPDTErrorKey.
enum {
    UPDT_SUCCESS = 0,
    UPDT_ERR_DIR_OPEN = 1,         // the caller's directory cannot be opened
    UPDT_ERR_DIR_RETURN = 2,       // the caller's directory cannot be re-entered at the end
    UPDT_ERR_WORK_DIR = 3,         // the working directory cannot be entered
    UPDT_ERR_READ_VER = 6,
    UPDT_ERR_READ_PATCH_VER = 7,
    UPDT_ERR_READ_MOD = 8,
    UPDT_ERR_READ_PATCH_MOD = 9,
    UPDT_ERR_VERSION = 10,
    UPDT_ERR_COMPANY = 12,
    UPDT_ERR_PATCH = 13,
    UPDT_ERR_BACKUP = 15,
    UPDT_ERR_SPACE = 16,           // no memory, or too little room
    UPDT_ERR_CONFIG = 17,
    UPDT_ERR_FIS_READ = 18,
    UPDT_ERR_PATCH_INFO = 19,
    UPDT_ERR_WRITE = 20,
    UPDT_ERR_FTP_PORTS = 21,
    UPDT_ERR_DEFAULTFS = 22,
    UPDT_ERR_DRIVER_BUFFER = 23,
    UPDT_ERR_REBOOT = 24,
    UPDT_ERR_OPTION = -1,          // main's result for a bad option; the system reports 255
};
#define UPDT_ERROR_KEYS 25
extern const char *const gszUPDTErrorKey[UPDT_ERROR_KEYS];

// Files of the run.
#define UPDT_PROGRESS_FILE "/tmp/update.progress"
#define UPDT_MESSAGE_FILE "/tmp/update.message"
#define UPDT_LOG_FILE "/var/log/korvupdate.log"
#define UPDT_LOG_CLEAR_SIZE 10000
// The temporary copies the run's rewrites have made and not yet renamed or removed, one line
// each ("+" and the path when made, "-" and the path when done); only while a run goes on, or
// after a run that was killed.
#define UPDT_STAGING_FILE "/var/log/korvupdate.staging"

// One partition of the flash plan.
typedef struct {
    const char *name;       // as the flash directory spells it (compared ignoring case)
    const char *file;       // image file in the working directory
    uint32_t start;
    uint32_t datalen;
    uint32_t size;
    int32_t balance;        // spare erase blocks; negative when the data does not fit
    int32_t adjust;         // blocks given (negative) or received by the size adjustment
    int32_t fneedupdate;
} UPDTPATCHINFO;

// A partition's MTD character device.
typedef struct {
    const char *name;
    const char *device;
} UPDTDEVICEMAP;

#define UPDT_MAX_PARTITIONS 8

// The run state.
extern char gszVolume[32];
extern char gszWorkDir[256];
extern char gszDevMtdPartition[10];
extern int gnPartition;
extern UPDTPATCHINFO gPatchInfo[UPDT_MAX_PARTITIONS + 1];
extern UPDTDEVICEMAP gDevMap[UPDT_MAX_PARTITIONS + 1];
extern int gfGroupUpdate;
extern int gfJunior;
extern int gfInstaller;
extern uint32_t gEraseBlockSize;
extern uint64_t gullDoneBytes;
extern uint64_t gullTotalBytes;

// The bits of the photo database's flag, gfPhotoDbUpgrade.
#define UPDT_PHOTO_DB_TABLES 0x1
#define UPDT_PHOTO_DB_VIDEO 0x2

// The migration flags of the run, each decided by its rows of the migration table
// (updater_migration.h) and read by its step. A fresh record holds every flag's start value.
struct UPDTFLAGS {
    // Decided by the analysis, also inside the installer.
    int gfRecoverFIS = 0;
    int gfDriverBuffer = 1;  // cleared for the oldest installed builds
    int gfOldLayout = 0;
    int gfRemoveManutilConf = 0;
    int gfRemovePhpIni = 0;
    int gfCrontabFilters = 0;
    // Decided by UPDTSetUpgradeFlags from the installed build.
    int gfPhotoDbUpgrade = 0;  // UPDT_PHOTO_DB_TABLES, UPDT_PHOTO_DB_VIDEO
    int gfDropMediaServerDb = 0;
    int gfDumpPgsqlDbs = 0;
    int gfRemoveRcAtalk = 0;
    int gfRemovePapdConf = 0;
    int gfFtpSystemAccounts = 0;
    int gfRemoveProfile = 0;
    int gfRemoveJumboFrameRc = 0;
    int gfMtuValueCap = 0;
    int gfMtuValueToEth0 = 0;
    int gfPasswdHomes = 0;
    int gfUserConfFile = 0;
    int gfMailAccounts = 0;
    int gfBond0Mtu = 0;
    int gfFtpWriteOnly = 0;
    int gfBondAlbToActiveBackup = 0;
    int gfFtpDenyToAutoBlock = 0;
    int gfSqueezeErrmsgLinks = 0;
    int gfRemoveEventTest = 0;
    int gfFtpPassiveRange = 0;
    int gfRsyncdConf = 0;
    int gfRsyncdSecrets = 0;
    int gfSmmspGroup = 0;
    int gfUsbBackup = 0;
    int gfPhotoEaDir = 0;
    int gfNetBackupSets = 0;
    int gfCodepage = 0;
};
extern UPDTFLAGS gUPDTFlags;

// Every value of the run state as a fresh process has it.
void UPDTResetRunState(void);

// "%s/%s" of gszWorkDir and an image file of the package.
std::string UPDTImagePath(const char *file);

// The whole run: the program's main.
int UPDTMain(int argc, char **argv);

// The layout templates: 6 partitions with the directory on "/dev/mtd5" (junior), else 8 on
// "/dev/mtd7". Copies the chosen one into gPatchInfo and gDevMap, sets gnPartition and
// gszDevMtdPartition.
void UPDTChooseLayout(int junior);

// Commands through the shell, built by the library's command builder, korv::proc::ShellCommand:
// an argument stands for one "%d" or one "%s"; outside the format's double quotes a text is
// single-quoted when it holds a byte outside [A-Za-z0-9/._@+-]; inside them its dollars,
// backquotes, backslashes and double quotes are escaped.
// "/bin/dd if=\"INPUT\" of=\"OUTPUT\" bs=N", with " count=N" when count is not negative.
std::string UPDTDdCommand(const std::string &input, const std::string &output, int blockSize, int count = -1);
// The command of format and args run through the shell: its wait status, or -1 when it could not
// be built (nothing runs) or not be run. No message: for the steps that report in their own words.
// cmd, when given, receives the command ("" when refused).
int UPDTRunCommand(const char *format, std::initializer_list<korv::proc::ShellArg> args = {},
                   std::string *cmd = nullptr);
// Runs cmd through the shell: 0 when it exited with status 0, else -1 after a message; -1 without
// one for a null or empty cmd.
int UPDTExecute(const char *cmd);
// The command of format and args, as UPDTExecute runs a command.
int UPDTExecute(const char *format, std::initializer_list<korv::proc::ShellArg> args);

// Status files.
int UPDTWriteStatusFile(const char *path, const char *text, int retry);
int UPDTSetProgress(char stage, int value);
int UPDTSetMessage(const char *key, const char *value);
// The sentence for the user: key "extramsg" of the message file. 1, or -1 after a message.
int UPDTSetExtraMessage(const char *sentence);
void UPDTLogInit(void);
void UPDTLog(const char *text);
void UPDTLogFormat(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The package analysis.
int ErrUPDTIAnalyze_WholeSystem(void);
int UPDTCheckSysPartitionSize(int64_t extractKiB);
int UPDTIsSysPartitionResizable(int64_t partition1Sectors);
int UPDTCompareVersion(const char *a, const char *b);
void UPDTSetUpgradeFlags(int buildNumber);

// The flash roads. "number of partitions = [%d]" and one line per entry of a flash directory.
void UPDTLogFlashDirectory(const KORVMTDFISENTRY *entries, int count);
// The MSys road: updater_msys.h.
