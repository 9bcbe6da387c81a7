// The run state that every stage of the updater shares, and the exit codes' message keys.
#include <string.h>

#include "updater.h"

char gszVolume[32];
char gszWorkDir[256];
char gszDevMtdPartition[10];
int gnPartition;
UPDTPATCHINFO gPatchInfo[UPDT_MAX_PARTITIONS + 1];
UPDTDEVICEMAP gDevMap[UPDT_MAX_PARTITIONS + 1];
int gfGroupUpdate;
int gfJunior;
int gfInstaller;
uint32_t gEraseBlockSize;
uint64_t gullDoneBytes;
uint64_t gullTotalBytes;
UPDTFLAGS gUPDTFlags;

// The user interface shows the text of the key; the updater only carries the table.
const char *const gszUPDTErrorKey[UPDT_ERROR_KEYS] = {
    "upgrade_success",      "error_dirop",          "error_dirop",          "error_dirop",
    "error_bootmediaop",    "error_bootmediaop",    "error_read_ver",       "error_read_patch_ver",
    "error_read_mod",       "error_read_patch_mod", "error_version",        "error_model",
    "error_company",        "error_patch",          "error_update_unknown", "error_update_unknown",
    "error_update_unknown", "error_update_unknown", "error_update_unknown", "error_update_unknown",
    "error_update_unknown", "error_update_unknown", "error_update_unknown", "error_memory",
    "error_reboot",
};

void UPDTResetRunState(void)
{
    memset(gszVolume, 0, sizeof gszVolume);
    memset(gszWorkDir, 0, sizeof gszWorkDir);
    memset(gszDevMtdPartition, 0, sizeof gszDevMtdPartition);
    gnPartition = 0;
    memset(gPatchInfo, 0, sizeof gPatchInfo);
    memset(gDevMap, 0, sizeof gDevMap);
    gfGroupUpdate = gfJunior = gfInstaller = 0;
    gEraseBlockSize = 0;
    gullDoneBytes = gullTotalBytes = 0;
    gUPDTFlags = UPDTFLAGS{};
}
