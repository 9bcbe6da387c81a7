#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "autoblock_internal.h"
#include "korv/autoblock.h"
#include "korv/eventlog.h"
#include "korv/file_lock.h"
#include "korv/mail.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "korv_lock_retry.h"
#include "korv_sz_holders.h"
#include "korv_unique.h"
#include "korv_io.h"

using namespace korv::autoblock;

namespace {

// Adds of several processes share one temporary file, so they take turns: this lock is held from
// before the temporary file is made until it has replaced the list. It lives with the named locks
// and, like them, is never removed.
constexpr const char kAddLock[] = "/tmp/lock/lock_autoblock";
constexpr int kAddLockWaitMs = 30000;

korv::UniqueFd TakeAddLock()
{
    if (KORLFileLockCheckDir() != 0)
        return korv::UniqueFd();
    korv::UniqueFd fd(open(kAddLock, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd) {
        KORV_LOG("Fail to open [%s], errno=[%d/%m]", kAddLock, errno);
        KORV_ERR(KORL_ERR_LOCK);
        return fd;
    }
    korv::LockedFile lock(LOCK_EX | LOCK_NB, {.tries = kAddLockWaitMs / 50 + 1, .pause = 50 * 1000});
    if (lock.Take(std::move(fd)) != korv::LockedFile::Status::Held) {
        errno = lock.err();
        KORV_LOG("Open and lock [%s] failed exceeds try count for %d(%m)", kAddLock, errno);
        KORV_ERR(KORL_ERR_LOCK);
        return korv::UniqueFd();
    }
    return lock.Release();
}

// The temporary list while it is written: removed when the add fails before its close.
struct TempList {
    korv::UniqueFd fd;
    ~TempList()
    {
        if (fd)
            unlink(KORV_AUTOBLOCK_LIST_TMP);
    }
};

void SendNotice(const char *address, const char *when, const KORVAUTOBLOCKCONF &conf, PKORLSZHASH *ptags)
{
    char attempts[32], minutes[32];
    snprintf(attempts, sizeof attempts, "%d", conf.attempts);
    snprintf(minutes, sizeof minutes, "%d", conf.attemptMin);
    if (KORLSzHashSetValue(ptags, "%AUTOBLOCK_TIME%", when) < 0 ||
        KORLSzHashSetValue(ptags, "%CLIENT_IP%", address) < 0 ||
        KORLSzHashSetValue(ptags, "%AUTOBLOCK_ATTEMPTS%", attempts) < 0 ||
        KORLSzHashSetValue(ptags, "%AUTOBLOCK_ATTEMPT_MIN%", minutes) < 0)
        return;
    KORVMailSend("AutoBlockAdd", ptags);
}

}  // namespace

extern "C" int KORVAutoBlockIPAdd(const char *address)
{
    const time_t now = time(nullptr);
    UmaskClear noUmask;
    if (!address) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::HashHolder tags(PshKORLSzHashAlloc(512));
    if (!tags) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    struct in_addr addr;
    if (inet_aton(address, &addr) == 0) {
        KORV_ERR(KORL_ERR_NOT_IPV4);
        return -1;
    }
    korv::UniqueFd turn = TakeAddLock();
    if (!turn)
        return -1;

    TempList temp;
    temp.fd.reset(open(KORV_AUTOBLOCK_LIST_TMP, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!temp.fd) {
        KORV_LOG("Fail to open [%s], errno=[%d/%m]", KORV_AUTOBLOCK_LIST_TMP, errno);
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    struct stat st;
    bool listed = stat(KORV_AUTOBLOCK_LIST, &st) == 0;
    if (!listed && errno != ENOENT) {
        KORV_LOG("Fail to stat [%s], errno=[%d/%m]", KORV_AUTOBLOCK_LIST, errno);
        KORV_ERR(KORL_ERR_STAT);
        return -1;
    }
    KORVAUTOBLOCKCONF conf = {};
    if (KORVAutoBlockConfGet(&conf) < 0) {
        KORV_LOG("Fail to get original auto block configuration from /etc/korvinfo.conf, korverr=[0x%04X]",
                 KORLErrGet());
        return -1;
    }
    if (listed && st.st_size > 0) {
        KORVAUTOBLOCKSCAN scan = {};
        scan.prot = PROT_READ;
        scan.flags = MAP_SHARED;
        scan.kind = KORV_AUTOBLOCK_SCAN_COPY_UNLESS;
        scan.lockOp = LOCK_EX | LOCK_NB;
        scan.openFlags = O_RDONLY;
        scan.size = st.st_size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(st.st_size);
        scan.offset = 0;
        scan.now = static_cast<unsigned int>(now);
        // More seconds than 32 bits hold outlive every 32-bit time: the most the field holds
        // expires none either.
        const uint64_t life = conf.expireDays > 0 ? 86400ull * static_cast<uint64_t>(conf.expireDays) : 0;
        scan.expiry = static_cast<unsigned int>(std::min<uint64_t>(life, UINT32_MAX));
        scan.path = KORV_AUTOBLOCK_LIST;
        uint32_t skip = addr.s_addr;
        if (AutoBlockIMmapProcess(&scan, temp.fd.get(), &skip) < 0) {
            KORV_LOG("AutoBlockIMmapProcess() failed, korverr=[0x%04X]", KORLErrGet());
            return -1;
        }
    }
    uint32_t t = static_cast<uint32_t>(now);
    unsigned char rec[KORV_AUTOBLOCK_REC_SIZE] = {static_cast<unsigned char>(t), static_cast<unsigned char>(t >> 8),
                                                  static_cast<unsigned char>(t >> 16),
                                                  static_cast<unsigned char>(t >> 24)};
    memcpy(rec + 4, &addr.s_addr, 4);
    if (!korv::WriteAll(temp.fd.get(), rec, sizeof rec).ok() || fsync(temp.fd.get()) != 0) {
        KORV_LOG("Fail to write [%s], errno=[%d/%m]", KORV_AUTOBLOCK_LIST_TMP, errno);
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }

    char when[64] = "";
    char buf[26];
    const char *text = ctime_r(&now, buf);
    snprintf(when, sizeof when, "%s", text ? text : "");
    if (KORLStrTrimSpace(when, nullptr) < 0) {
        KORV_LOG("KORLStrTrimSpace() failed! szInput[%s], korverr=[0x%04X]", when, KORLErrGet());
        snprintf(when, sizeof when, "00:00:00");
    }
    KORVLogSet1(1, 2, KORV_EVENT_AUTOBLOCK_ADD, address, when, "", "");
    if (conf.notify)
        SendNotice(address, when, conf, tags.addr());

    if (temp.fd.close() != 0) {
        KORV_LOG("Fail to write [%s], errno=[%d/%m]", KORV_AUTOBLOCK_LIST_TMP, errno);
        KORV_ERR(KORL_ERR_WRITE);
        unlink(KORV_AUTOBLOCK_LIST_TMP);
        return -1;
    }
    if (rename(KORV_AUTOBLOCK_LIST_TMP, KORV_AUTOBLOCK_LIST) != 0) {
        KORV_LOG("Fail to rename [%s], errno=[%d/%m]", KORV_AUTOBLOCK_LIST_TMP, errno);
        KORV_ERR(KORL_ERR_RENAME);
        unlink(KORV_AUTOBLOCK_LIST_TMP);
        return -1;
    }
    return 0;
}
