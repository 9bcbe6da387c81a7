// The write of the RedBoot flash: each marked partition sized, then up to three attempts of
// unlock, erase, copy and verify, then its flash-directory entry rewritten.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "korv/platform.h"
#include "korv_flash_records.h"
#include "korv_io.h"
#include "korv_malloc_ptr.h"
#include "korv_plat_fd.h"
#include "korv_unique.h"
#include "updater.h"
#include "updater_flash.h"
#include "updater_patch.h"
#include "updater_redboot.h"

namespace {

constexpr int kAttempts = 3;

// The write fills 60 to 100; before there is anything to count it stays at 60.
void WriteProgress(char stage)
{
    uint64_t value = gullTotalBytes ? gullDoneBytes * 40 / gullTotalBytes : 0;
    UPDTSetProgress(stage, 60 + static_cast<int>(value > 40 ? 40 : value));
}

// Bytes of a marked entry that count for the progress: written once and read back once.
uint64_t Weight(const UPDTPATCHINFO &e)
{
    return e.fneedupdate == 1 ? 2 * uint64_t(e.datalen) : 0;
}

// Opens the image (a file) and the device (through the flash driver). false after a message.
bool OpenPair(const char *func, const char *file, const char *device, int deviceFlags, korv::UniqueFd *in,
              korv::PlatFd *out)
{
    in->reset(open(file, O_RDONLY | O_CLOEXEC));
    if (!*in) {
        syslog(LOG_ERR, "%s:%d(%s) open [%s] error: (%d) %s.", UPDT_SOURCE, __LINE__, func, file, errno,
               strerror(errno));
        return false;
    }
    out->reset(korv_plat_open(device, deviceFlags));
    if (!*out) {
        syslog(LOG_ERR, "%s:%d(%s) open [%s] error: (%d) %s.", UPDT_SOURCE, __LINE__, func, device, errno,
               strerror(errno));
        return false;
    }
    return true;
}

bool CheckLength(const char *func, const char *file, uint64_t done, int64_t length)
{
    if (done == static_cast<uint64_t>(length))
        return true;
    syslog(LOG_ERR, "%s:%d(%s) read file [%s] only %llu bytes, %llu bytes needed: (%d) %s.", UPDT_SOURCE, __LINE__,
           func, file, static_cast<unsigned long long>(done), static_cast<unsigned long long>(length), errno,
           strerror(errno));
    return false;
}

// One attempt of writing entry e on device: unlock, erase, copy, verify; messages as func.
bool Attempt(const char *func, const UPDTPATCHINFO &e, const char *device, int attempt, char stage)
{
    if (KORVMTDUnlockPartition(device) != 0) {
        syslog(LOG_ERR, "%s: unlock [%s] fail", func, device);
        return false;
    }
    syslog(LOG_ERR, "%s:%d(%s) Try to Erase MTD Partition(%s), [%d/%d]...", UPDT_SOURCE, __LINE__, func, device,
           attempt, kAttempts);
    if (KORVMTDErasePartition(device) != 0) {
        syslog(LOG_ERR, "%s: KORVMTDErasePartition() fail", func);
        return false;
    }
    std::string path = UPDTImagePath(e.file);
    syslog(LOG_ERR, "%s:%d(%s) Try to Write MTD Partition(%s), [%d/%d]...", UPDT_SOURCE, __LINE__, func, device,
           attempt, kAttempts);
    if (UPDTCopyFile(path.c_str(), device, e.datalen, 16384, stage) != 0)
        return false;
    syslog(LOG_ERR, "%s:%d(%s) Try to Verify MTD Partition(%s), [%d/%d]...", UPDT_SOURCE, __LINE__, func, device,
           attempt, kAttempts);
    return UPDTVerifyFile(path.c_str(), device, e.datalen, 8192, stage) == 0;
}

// The image streamed chunk by chunk to the device: opened, read, handed to perChunk (which writes or
// compares the bytes, or logs and returns false), counted for the progress, and its length checked.
template <typename PerChunk>
int StreamImage(const char *func, const char *file, const char *device, int deviceFlags, int64_t length, int chunk,
                char stage, PerChunk perChunk)
{
    if (!file || !device || length <= 0 || chunk <= 0)
        return -1;
    korv::UniqueFd in;
    korv::PlatFd dev;
    if (!OpenPair(func, file, device, deviceFlags, &in, &dev))
        return -1;
    korv::MallocPtr<unsigned char> buf(static_cast<unsigned char *>(malloc(static_cast<size_t>(chunk))));
    if (!buf) {
        syslog(LOG_ERR, "%s:%d(%s) malloc [%d] fail: (%d) %s.", UPDT_SOURCE, __LINE__, func, chunk, errno,
               strerror(errno));
        return -1;
    }
    uint64_t done = 0;
    for (;;) {
        errno = 0;
        ssize_t n = read(in.get(), buf.get(), static_cast<size_t>(chunk));
        if (n == 0)
            break;
        if (n < 0) {
            syslog(LOG_ERR, "%s:%d(%s) read file [%s] error: (%d) %s.", UPDT_SOURCE, __LINE__, func, file, errno,
                   strerror(errno));
            return -1;
        }
        errno = 0;
        if (!perChunk(dev.get(), buf.get(), static_cast<size_t>(n), done))
            return -1;
        done += static_cast<uint64_t>(n);
        gullDoneBytes += static_cast<uint64_t>(n);
        WriteProgress(stage);
    }
    return CheckLength(func, file, done, length) ? 0 : -1;
}

// The names a flash-directory image lists: 256-byte entries up to a free one (0xFF) or the end
// of the image. false when it ends inside an entry or cannot be read.
bool DirectoryNames(const std::string &path, uint32_t length, std::vector<std::string> *names)
{
    korv::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(length) ||
        length % KORV_MTD_FIS_ENTRY_SIZE != 0)
        return false;
    uint8_t raw[korv::flash::kFisEntrySize];
    for (uint32_t at = 0; at < length; at += sizeof raw) {
        if (!korv::ReadFull(fd.get(), raw, sizeof raw, {path.c_str(), at}).ok())
            return false;
        if (korv::flash::FisEntryFree(raw))
            break;
        names->push_back(UPDTEntryName(korv::flash::UnpackFisEntry(raw)));
    }
    return true;
}

// A "FIS Directory" image to be written must read as a flash directory that lists every
// partition of the plan: the entries the write rewrites go into it, and the rollback reads it.
bool DirectoryImageFits(const char *func)
{
    for (int i = 0; i < gnPartition; ++i) {
        const UPDTPATCHINFO &e = gPatchInfo[i];
        if (e.fneedupdate != 1 || strcasecmp(e.name, "FIS Directory") != 0)
            continue;
        std::string path = UPDTImagePath(e.file);
        std::vector<std::string> names;
        if (!DirectoryNames(path, e.datalen, &names)) {
            syslog(LOG_ERR, "%s(%d): the image [%s] does not read as a flash directory", func, __LINE__, path.c_str());
            return false;
        }
        for (int k = 0; k < gnPartition; ++k) {
            bool listed = false;
            for (const std::string &n : names)
                listed = listed || strcasecmp(n.c_str(), gPatchInfo[k].name) == 0;
            if (!listed) {
                syslog(LOG_ERR, "%s(%d): the directory image [%s] does not list the partition [%s]", func, __LINE__,
                       path.c_str(), gPatchInfo[k].name);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int UPDTCopyFile(const char *file, const char *device, int64_t length, int chunk, char stage)
{
    const char *func = __func__;
    return StreamImage(func, file, device, O_WRONLY, length, chunk, stage,
                       [&](int fd, const unsigned char *bytes, size_t n, uint64_t offset) {
                           if (korv::PlatWriteAll(fd, bytes, n, {device, offset}).ok())
                               return true;
                           syslog(LOG_ERR, "%s:%d(%s) write file [%s] error: (%d) %s.", UPDT_SOURCE, __LINE__,
                                  func, device, errno, strerror(errno));
                           return false;
                       });
}

int UPDTVerifyFile(const char *file, const char *device, int64_t length, int chunk, char stage)
{
    const char *func = __func__;
    korv::MallocPtr<unsigned char> have(chunk > 0 ? static_cast<unsigned char *>(malloc(static_cast<size_t>(chunk)))
                                                  : nullptr);
    if (chunk > 0 && !have) {
        syslog(LOG_ERR, "%s:%d(%s) malloc [%d] fail: (%d) %s.", UPDT_SOURCE, __LINE__, __func__, chunk, errno,
               strerror(errno));
        return -1;
    }
    return StreamImage(func, file, device, O_RDONLY, length, chunk, stage,
                       [&](int fd, const unsigned char *want, size_t n, uint64_t offset) {
                           if (!korv::PlatReadFull(fd, have.get(), n, {device, offset}).ok()) {
                               syslog(LOG_ERR, "%s:%d(%s) read file [%s] error: (%d) %s.", UPDT_SOURCE, __LINE__,
                                      func, device, errno, strerror(errno));
                               return false;
                           }
                           if (memcmp(want, have.get(), n) != 0) {
                               syslog(LOG_ERR, "%s:%d(%s) compare file [%s] vs [%s] error at offset 0x%llX",
                                      UPDT_SOURCE, __LINE__, func, file, device,
                                      static_cast<unsigned long long>(offset));
                               return false;
                           }
                           return true;
                       });
}

int UPDTDoPatch(const KORVMTDFISENTRY *entries, int count, char stage, bool *changed)
{
    if (!entries || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error ", __func__, __LINE__);
        return -1;
    }
    if (UPDTIsNeedResize(gPatchInfo, gnPartition)) {
        syslog(LOG_ERR, "%s(%d): NEED RESIZE THE PARTITION", __func__, __LINE__);
        // A plan that cannot be written as it stands is refused before anything is erased.
        if (ErrUPDTAdjustPartitionSize(gPatchInfo, gnPartition) != 0 ||
            ErrUPDTCheckPatchPlan(gPatchInfo, gnPartition, entries, count) != 0) {
            syslog(LOG_ERR, "%s(%d): fail to resize", __func__, __LINE__);
            return -1;
        }
    }
    if (!DirectoryImageFits(__func__))
        return -1;
    gullTotalBytes = 0;
    for (int i = 0; i < gnPartition; ++i)
        gullTotalBytes += Weight(gPatchInfo[i]);

    uint64_t before = 0;  // progress bytes of the marked entries before this one
    for (int i = 0; i < gnPartition; ++i) {
        const UPDTPATCHINFO &e = gPatchInfo[i];
        if (e.fneedupdate != 1) {
            syslog(LOG_ERR, "%s: skip updating [%s]", __func__, e.name);
            continue;
        }
        const char *device = SzUPDTGetDeviceByName(e.name);
        if (!device) {
            syslog(LOG_ERR, "%s(%d): fail to get device path", __func__, __LINE__);
            return -1;
        }
        if (e.datalen > e.size) {
            syslog(LOG_ERR, "%s(%d): the image [%s] of 0x%08X bytes does not fit the partition [%s] of 0x%08X bytes",
                   __func__, __LINE__, e.file, e.datalen, e.name, e.size);
            return -1;
        }
        UPDTIgnoreSignals();
        if (changed)
            *changed = true;
        if (KORVMTDModifyPartitionSize(device, e.start, e.size) != 0) {
            syslog(LOG_ERR, "%s: KORVMTDModifyPartitionSize() fail", __func__);
            return -1;
        }
        bool written = false;
        for (int attempt = 0; attempt < kAttempts && !written; ++attempt) {
            gullDoneBytes = before;  // a new attempt counts this partition again
            WriteProgress(stage);
            written = Attempt(__func__, e, device, attempt, stage);
        }
        if (!written) {
            syslog(LOG_ERR, "%s:%d(%s) Try to Update [%s] %d counts failed ...", UPDT_SOURCE, __LINE__, __func__,
                   device, kAttempts);
            return -1;
        }
        KORVMTDFISMOD mod {};
        strncpy(mod.name, e.name, sizeof mod.name - 1);
        mod.flash_base = e.start;
        mod.size = e.size;
        mod.data_length = e.datalen;
        if (KORVMTDModifyFISEntry(gszDevMtdPartition, &mod) != 0) {
            syslog(LOG_ERR, "%s: KORVMTDModifyFISEntry() fail", __func__);
            return -1;
        }
        syslog(LOG_ERR, "%s: Finish updating [%s]", __func__, e.name);
        before += Weight(e);
    }
    return 0;
}
