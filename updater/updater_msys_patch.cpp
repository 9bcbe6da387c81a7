// The write of an MSys flash and its rollback: the whole flash re-partitioned when an image no
// longer fits, then each partition written with dd from its image or from its backup.
#include <errno.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "updater.h"
#include "updater_flash.h"
#include "updater_msys.h"
#include "updater_patch.h"

namespace {

int Units(uint32_t bytes)
{
    return static_cast<int>((static_cast<uint64_t>(bytes) + UPDT_MSYS_UNIT - 1) / UPDT_MSYS_UNIT);
}

std::string Device(int i)
{
    return "/dev/mtd" + std::to_string(i);
}

int ProgressOf(int i)
{
    return 65 + 5 * i;
}

// A partition's old data put back from its backup, which holds the whole old partition: only
// the bytes that were in use (at most `room`), in 16 KiB blocks, since an MSys partition's data
// length is what its last write stored. Written whole, every restored partition would report
// its full size as data in use.
std::string RestoreCommand(const KORVMTDFISENTRY &old, int i, uint32_t room)
{
    uint32_t length = old.data_length < room ? old.data_length : room;
    return korv::proc::ShellCommand("/bin/dd if=\"%s\" of=\"%s\" bs=%d count=%d iflag=count_bytes",
                                    {UPDTBackupFile(UPDTEntryName(old)), Device(i), static_cast<int>(UPDT_MSYS_UNIT),
                                     static_cast<int>(length)});
}

// Every entry's image in the package, for a group update that has no backup to fall back on.
bool AllImagesPresent(const char *func)
{
    for (int i = 0; i < gnPartition; ++i) {
        struct stat st;
        if (stat(UPDTImagePath(gPatchInfo[i].file).c_str(), &st) != 0) {
            syslog(LOG_ERR, "%s(%d): failed to update. [%s] does not exist", func, __LINE__, gPatchInfo[i].file);
            return false;
        }
    }
    return true;
}

// Every image of the package as the RedBoot road takes it: a regular file, not empty, that fits
// the partition it goes to. A FIFO would hold dd for ever, an empty file "succeeds" with nothing.
bool ImagesFit(const char *func)
{
    for (int i = 0; i < gnPartition; ++i) {
        const UPDTPATCHINFO &p = gPatchInfo[i];
        std::string image = UPDTImagePath(p.file);
        struct stat st;
        if (lstat(image.c_str(), &st) != 0 && errno == ENOENT)
            continue;  // written from its backup when it must be written at all
        if (stat(image.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
            static_cast<uint64_t>(st.st_size) > p.size) {
            syslog(LOG_ERR, "%s(%d): the image [%s] is not a regular file of 1 to 0x%08X bytes", func, __LINE__,
                   image.c_str(), p.size);
            return false;
        }
    }
    return true;
}

// The new partitioning: the adjusted plan, once it is known to fit the flash as it stands.
bool Repartition(const char *func, const KORVMTDFISENTRY *entries, int count, bool *changed)
{
    if (ErrUPDTAdjustPartitionSize(gPatchInfo, gnPartition) != 0 ||
        ErrUPDTCheckPatchPlan(gPatchInfo, gnPartition, entries, count) != 0 || !ImagesFit(func))
        return false;
    uint32_t counts[UPDT_MSYS_PARTITIONS];
    for (int i = 0; i < UPDT_MSYS_PARTITIONS; ++i)
        counts[i] = static_cast<uint32_t>(Units(gPatchInfo[i].size));
    if (changed)
        *changed = true;
    return UPDTMSysFormat(counts, UPDT_MSYS_PARTITIONS) == 0;
}

}  // namespace

int UPDTMSysDoPatch(const KORVMTDFISENTRY *entries, int count, int *repartitioned, char stage, bool *changed)
{
    if (!entries || count <= 0 || !repartitioned) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    if (UPDTIsNeedResize(gPatchInfo, gnPartition)) {
        syslog(LOG_ERR, "%s(%d): NEED RE-PARTITION!!", __func__, __LINE__);
        if (gfGroupUpdate && !AllImagesPresent(__func__))
            return -1;
        // A format that fails may already have cut the flash: from here on there is work for the
        // rollback.
        if (!Repartition(__func__, entries, count, changed)) {
            syslog(LOG_ERR, "%s(%d): fail to resize", __func__, __LINE__);
            return -1;
        }
        *repartitioned = 1;
    } else if (!ImagesFit(__func__)) {
        return -1;
    }
    for (int i = 0; i < gnPartition && i < count; ++i) {
        const UPDTPATCHINFO &p = gPatchInfo[i];
        if (!*repartitioned && p.fneedupdate != 1) {
            syslog(LOG_ERR, "%s: skip updating [%s]", __func__, p.name);
            continue;
        }
        std::string image = UPDTImagePath(p.file);
        std::string cmd = access(image.c_str(), F_OK) == 0 ? UPDTDdCommand(image, Device(i), UPDT_MSYS_UNIT)
                                                           : RestoreCommand(entries[i], i, p.size);
        syslog(LOG_ERR, "szCmd=[%s]", cmd.c_str());
        if (changed)
            *changed = true;
        if (UPDTExecute(cmd.c_str()) != 0)
            return -1;
        UPDTSetProgress(stage, ProgressOf(i));
        syslog(LOG_ERR, "%s: Finish updating [%s]", __func__, p.name);
    }
    return 0;
}

int UPDTMSysRollBack(const KORVMTDFISENTRY *entries, int count, int repartitioned, char stage)
{
    if (!entries || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    if (repartitioned == 1) {
        uint32_t counts[UPDT_MSYS_PARTITIONS] = {};
        for (int i = 0; i < UPDT_MSYS_PARTITIONS && i < count; ++i)
            counts[i] = static_cast<uint32_t>(Units(entries[i].size));
        if (UPDTMSysFormat(counts, UPDT_MSYS_PARTITIONS) != 0) {
            syslog(LOG_ERR, "%s(%d): fail to resize", __func__, __LINE__);
            return -1;
        }
    }
    // A partition that cannot be put back does not stop the others.
    int result = 0;
    for (int i = 0; i < gnPartition && i < count; ++i) {
        std::string cmd = RestoreCommand(entries[i], i, entries[i].size);
        syslog(LOG_ERR, "%s(%d): command=[%s]", __func__, __LINE__, cmd.c_str());
        if (UPDTExecute(cmd.c_str()) != 0) {
            result = -1;
            continue;
        }
        UPDTSetProgress(stage, ProgressOf(i));
        syslog(LOG_ERR, "%s: Finish updating [%s]", __func__, gPatchInfo[i].name);
    }
    return result;
}
