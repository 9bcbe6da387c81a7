#include <errno.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>

#include "autoblock_internal.h"
#include "korv/autoblock.h"
#include "korv_internal.h"
#include "korv_io.h"

using namespace korv::autoblock;

namespace {

// The copies report a failed write: a list rebuilt from a short copy would lose blocked addresses.
int AutoBlockCopyUnlessIP(int fd, KORVAUTOBLOCKREC *rec, void *arg)
{
    if (KORVAutoBlockRecAddr(rec) == *static_cast<const uint32_t *>(arg))
        return 0;
    return korv::WriteAll(fd, rec, KORV_AUTOBLOCK_REC_SIZE).ok() ? 0 : -1;
}

int AutoBlockCopyUnlessListed(int fd, KORVAUTOBLOCKREC *rec, void *arg)
{
    uint32_t addr = KORVAutoBlockRecAddr(rec);
    for (const uint32_t *listed = static_cast<const uint32_t *>(arg); *listed; ++listed) {
        if (*listed == addr)
            return 0;
    }
    return korv::WriteAll(fd, rec, KORV_AUTOBLOCK_REC_SIZE).ok() ? 0 : -1;
}

int AutoBlockClearIP(int, KORVAUTOBLOCKREC *rec, void *arg)
{
    if (KORVAutoBlockRecAddr(rec) == *static_cast<const uint32_t *>(arg))
        memset(rec, 0, sizeof *rec);
    return 0;
}

int AutoBlockMatchIP(int, KORVAUTOBLOCKREC *rec, void *arg)
{
    return KORVAutoBlockRecAddr(rec) == *static_cast<const uint32_t *>(arg) ? 1 : 0;
}

// The list's descriptor, unlocked and closed on every return.
struct ListFd {
    int fd;
    ~ListFd() { KORVAutoBlockFileClose(fd); }
};

struct Window {
    void *base;
    size_t len;
    ~Window() { munmap(base, len); }
};

}  // namespace

extern "C" int AutoBlockIMmapProcess(const KORVAUTOBLOCKSCAN *scan, int fd, void *arg)
{
    if (!scan || scan->size <= 0) {
        KORV_LOG("Bad parameters");
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    ListFd list{KORVAutoBlockFileOpen(scan->path, scan->openFlags, scan->lockOp)};
    if (list.fd < 0)
        return -1;

    KORVAUTOBLOCKCB callback = nullptr;
    bool needsFd = false;
    switch (scan->kind) {
    case KORV_AUTOBLOCK_SCAN_CALLBACK:
        callback = scan->callback;
        break;
    case KORV_AUTOBLOCK_SCAN_COPY_UNLESS:
        callback = AutoBlockCopyUnlessIP;
        needsFd = true;
        break;
    case KORV_AUTOBLOCK_SCAN_COPY_UNLISTED:
        callback = AutoBlockCopyUnlessListed;
        needsFd = true;
        break;
    case KORV_AUTOBLOCK_SCAN_CLEAR:
        callback = AutoBlockClearIP;
        break;
    case KORV_AUTOBLOCK_SCAN_MATCH:
        callback = AutoBlockMatchIP;
        break;
    default:
        break;
    }
    bool argOk = scan->kind == KORV_AUTOBLOCK_SCAN_CALLBACK || (arg && (!needsFd || fd >= 0));
    if (!callback || !argOk) {
        KORV_LOG("Bad parameters");
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    // Only what the locked file holds now is mapped: another process may have shortened it
    // since the caller measured, and a page past its end would fault.
    struct stat st;
    if (fstat(list.fd, &st) != 0) {
        KORV_ERR(KORL_ERR_STAT);
        return -1;
    }
    const off_t size = std::min<off_t>(scan->size, st.st_size);
    const off_t start = scan->offset;
    for (off_t at = 0; at < size; at += KORV_AUTOBLOCK_WINDOW) {
        size_t len = static_cast<size_t>(std::min<off_t>(KORV_AUTOBLOCK_WINDOW, size - at));
        len -= len % KORV_AUTOBLOCK_REC_SIZE;
        if (len == 0)
            break;
        if (at + static_cast<off_t>(len) < start)
            continue;
        void *base = mmap(nullptr, len, scan->prot, scan->flags, list.fd, at);
        if (base == MAP_FAILED) {
            KORV_LOG("mmap() failed!! errno=[%d/%m]", errno);
            KORV_ERR(kErrMmap);
            return -1;
        }
        Window window{base, len};
        auto *recs = static_cast<KORVAUTOBLOCKREC *>(base);
        for (size_t i = 0; i < len / KORV_AUTOBLOCK_REC_SIZE; ++i) {
            off_t end = at + static_cast<off_t>((i + 1) * KORV_AUTOBLOCK_REC_SIZE);
            if (start >= end)
                continue;
            uint32_t time = KORVAutoBlockRecTime(&recs[i]);
            if (time == 0 || KORVAutoBlockRecAddr(&recs[i]) == 0)
                continue;
            // Summed in 64 bits: a sum past 2^32 is a block that has not lapsed.
            if (scan->expiry != 0 && static_cast<uint64_t>(time) + scan->expiry <= scan->now)
                continue;
            int r = callback(fd, &recs[i], arg);
            if (r == 1)
                return 1;
            if (r < 0) {
                KORV_ERR(KORL_ERR_WRITE);
                return -1;
            }
        }
    }
    return 0;
}
