// The open, check and rebuild of a set of stores, shared by the account and share databases.
#include "korv_store_set.h"

#include <errno.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "korv_bdb.h"
#include "korv_internal.h"
#include "korv_lock_retry.h"
#include "korv_log_at.h"
#include "korv_rewrite.h"

namespace korv::bdb {

namespace {

constexpr size_t kPathMax = 4095;

// Builds of new sets under way in this thread (a build may open another database's set).
thread_local int gBuildingNew = 0;

using Loc = std::source_location;

// How long a rebuild waits for the set's rebuild lock: the time-out of the named locks that the
// databases' callers take, so that a process holding it cannot stall them for longer.
constexpr int kRebuildWaitMs = 5000;
constexpr int kRebuildPollMs = 50;

// A lock file is only as safe as its owner: one that another user made or may write (or a link
// they planted) could be held by them for as long as they like, or lead the open elsewhere.
bool OwnLockFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Removes what stands at name in the folder parent, a folder with all it holds, without following
// any link. 0 (also when nothing is there), or -1.
int RemoveAt(int parent, const char *name)
{
    if (unlinkat(parent, name, 0) == 0 || errno == ENOENT)
        return 0;
    if (errno != EISDIR && errno != EPERM)
        return -1;
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    DIR *dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return -1;
    }
    int r = 0;
    while (struct dirent *e = readdir(dir)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0 && RemoveAt(dirfd(dir), e->d_name) != 0)
            r = -1;
    }
    closedir(dir);
    if (r == 0 && unlinkat(parent, name, AT_REMOVEDIR) != 0 && errno != ENOENT)
        r = -1;
    return r;
}

int RemovePath(const std::string &path)
{
    return RemoveAt(AT_FDCWD, path.c_str());
}

// Opens the lock file at path, replacing whatever else stands there: -1 (errno set) when it
// cannot be had as a file of our own.
int OpenLockFile(const std::string &path)
{
    for (int attempt = 0; attempt < 2; attempt++) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd >= 0) {
            struct stat st;
            if (fstat(fd, &st) == 0 && OwnLockFile(st))
                return fd;
            close(fd);
        } else if (errno != ELOOP && errno != EISDIR && errno != ENXIO && errno != EACCES) {
            return -1;
        }
        if (RemovePath(path) != 0)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// The set's rebuild lock, an exclusive flock on a stable file beside the stores. Holds are
// counted within the process, since a check that rebuilds reopens the set under the same hold.
class RebuildLock {
public:
    RebuildLock(const std::string &path, const Loc &loc) : path_(path)
    {
        Hold &h = holds()[path_];
        if (h.count == 0) {
            korv::LockedFile lock(LOCK_EX | LOCK_NB,
                                  {.tries = kRebuildWaitMs / kRebuildPollMs + 1, .pause = kRebuildPollMs * 1000});
            const int fd = OpenLockFile(path_);
            if (fd < 0 || lock.Take(korv::UniqueFd(fd)) != korv::LockedFile::Status::Held) {
                if (fd >= 0)
                    errno = lock.err();
                LogAt(LOG_ERR, loc, "errno=%d/%m, rebuild lock [%s] failed.", errno, path_.c_str());
                ErrAt(KORL_ERR_LOCK, loc);
                holds().erase(path_);
                return;
            }
            h.fd = lock.Release().release();
        }
        ++h.count;
        held_ = true;
    }
    ~RebuildLock()
    {
        if (!held_)
            return;
        Hold &h = holds()[path_];
        if (--h.count == 0) {
            close(h.fd);  // closing the only descriptor releases the flock
            holds().erase(path_);
        }
    }
    RebuildLock(const RebuildLock &) = delete;
    RebuildLock &operator=(const RebuildLock &) = delete;
    bool held() const { return held_; }

private:
    struct Hold {
        int fd = -1;
        int count = 0;
    };
    static std::map<std::string, Hold> &holds()
    {
        static std::map<std::string, Hold> m;
        return m;
    }
    std::string path_;
    bool held_ = false;
};

std::string LivePath(const std::string &prefix, const StoreSpec &s)
{
    return prefix + s.suffix;
}

std::string StagingPath(const std::string &prefix, const StoreSpec &s)
{
    return prefix + ".tmp" + (s.stagingSuffix ? s.stagingSuffix : s.suffix);
}

std::string LockPath(const std::string &prefix)
{
    return prefix + ".lock";
}

void CloseStores(const SetSpec &spec, void *set)
{
    for (int i = 0; i < spec.count; i++) {
        KORVBDB *&h = Store(spec, set, i);
        if (h)
            KORVBDbClose(h);
        h = nullptr;
    }
}

void *NewRecord(const SetSpec &spec, const Loc &loc)
{
    void *set = calloc(1, spec.recordSize);
    if (!set) {
        LogAt(LOG_ERR, loc, "errno=%d/%m, malloc failed", errno);
        ErrAt(KORL_ERR_NO_MEMORY, loc);
    }
    return set;
}

// Opens every store of the set at prefix with O_RDWR: 0 all open; 1 when a store is missing or is
// no B-tree file (the stores closed again, nothing logged); -1 on any other failure (logged).
int OpenAll(const SetSpec &spec, const std::string &prefix, void *set, const Loc &loc)
{
    for (int i = 0; i < spec.count; i++) {
        const StoreSpec &s = spec.stores[i];
        std::string path = LivePath(prefix, s);
        KORVBDB *h = OpenStore(path.c_str(), O_RDWR, s.dup ? 1 : 0, spec.mode);
        if (!h) {
            int code = KORLErrGet();
            CloseStores(spec, set);
            if (code == KORL_ERR_NO_FILE || code == KORL_ERR_BDB_INVALID)
                return 1;
            LogAt(LOG_ERR, loc, "KORVBDbOpen [%s] failed. korverr=0x%04X", path.c_str(), code);
            return -1;
        }
        Store(spec, set, i) = h;
    }
    return 0;
}

// The live first store, opened so that the file it names now can be marked once it is replaced:
// a check reads that store's marker first. Best effort: a store that does not open is left out.
void OpenOld(const SetSpec &spec, const std::string &prefix, void *old)
{
    const StoreSpec &s = spec.stores[0];
    std::string path = LivePath(prefix, s);
    if (access(path.c_str(), F_OK) == 0)
        Store(spec, old, 0) = OpenStore(path.c_str(), O_RDWR, s.dup ? 1 : 0, spec.mode);
}

// Tells every process that still has a replaced file open to reopen by name. Best effort.
void MarkDeprecated(const SetSpec &spec, void *old, const Loc &loc)
{
    for (int i = 0; i < spec.count; i++) {
        KORVBDB *h = Store(spec, old, i);
        if (h && KORVBDbDeprecatedSet(h, 1) != 0)
            LogAt(LOG_ERR, loc, "KORVBDbDeprecatedSet [%s] failed. korverr=0x%04X",
                  LivePath(spec.prefix, spec.stores[i]).c_str(), KORLErrGet());
    }
}

// The name under which Berkeley DB makes a new file before renaming it to path: "__db." before
// its last part. One left by a killed create makes every later create of path wait and fail.
std::string BdbCreateName(const std::string &path)
{
    size_t slash = path.rfind('/');
    size_t at = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, at) + "__db." + path.substr(at);
}

// Clears the staging names of whatever stands there: files, links (never followed) and folders,
// and what Berkeley DB left of a create under each of them.
void RemoveStaging(const SetSpec &spec, const std::string &prefix, const Loc &loc)
{
    for (int i = 0; i < spec.count; i++) {
        std::string staging = StagingPath(prefix, spec.stores[i]);
        for (const std::string &path : {staging, BdbCreateName(staging)})
            if (RemovePath(path) != 0)
                LogAt(LOG_ERR, loc, "errno=%d/%m, removing [%s] failed", errno, path.c_str());
    }
}

// Builds the set at prefix anew under the staging names and renames it into place; the caller
// holds the rebuild lock. oldSet, when given, holds handles of the files being replaced (they are
// marked through it); otherwise the live files are opened here for that.
int BuildAndReplace(const SetSpec &spec, const std::string &prefix, void *oldSet, bool rebuild, const Loc &loc)
{
    // Whatever an interrupted build left under the staging names is never put in place.
    RemoveStaging(spec, prefix, loc);

    struct Record {
        const SetSpec &spec;
        void *p;
        ~Record()
        {
            if (p) {
                CloseStores(spec, p);
                free(p);
            }
        }
    } fresh{spec, NewRecord(spec, loc)}, old{spec, nullptr};
    if (!fresh.p)
        return -1;

    bool built = true;
    for (int i = 0; i < spec.count && built; i++) {
        const StoreSpec &s = spec.stores[i];
        std::string path = StagingPath(prefix, s);
        // Made afresh: whatever took the staging name since it was cleared is never built into.
        KORVBDB *h = OpenStore(path.c_str(), O_RDWR | O_CREAT | O_EXCL, s.dup ? 1 : 0, spec.mode);
        if (!h) {
            LogAt(LOG_ERR, loc, "KORVBDbOpen [%s] failed. korverr=0x%04X", path.c_str(), KORLErrGet());
            built = false;
            break;
        }
        Store(spec, fresh.p, i) = h;
        KORVBDbDeprecatedSet(h, 0);
    }
    if (built) {
        ++gBuildingNew;
        built = spec.build(fresh.p) == 0;
        --gBuildingNew;
    }
    // Everything built must be on disk before the files are put in place.
    for (int i = 0; i < spec.count && built; i++)
        built = Sync(Store(spec, fresh.p, i)) == 0;
    CloseStores(spec, fresh.p);
    if (!built) {
        if (rebuild)
            ErrAt(KORL_ERR_OPEN, loc);
        RemoveStaging(spec, prefix, loc);
        return -1;
    }

    if (!oldSet) {
        old.p = NewRecord(spec, loc);
        if (old.p)
            OpenOld(spec, prefix, old.p);
        oldSet = old.p;
    }
    for (int k = 0; k < spec.count; k++) {
        const StoreSpec &s = spec.stores[spec.renameOrder[k]];
        std::string from = StagingPath(prefix, s), to = LivePath(prefix, s);
        if (rename(from.c_str(), to.c_str()) != 0) {
            int err = errno;
            LogAt(LOG_ERR, loc, "rename(%s, %s) = (%d)/%m", from.c_str(), to.c_str(), err);
            ErrAt(err == EACCES ? KORL_ERR_PERMISSION : KORL_ERR_RENAME, loc);
            RemoveStaging(spec, prefix, loc);
            return -1;
        }
    }
    if (oldSet)
        MarkDeprecated(spec, oldSet, loc);
    return 0;
}

// What the set needs: 0 nothing, 1 a reopen, 2 a rebuild; -1 when it cannot be told.
int Decide(const SetSpec &spec, void *set, const Loc &loc)
{
    // A build cut short between its renames left staging names, and live stores of two builds.
    // (A build under way leaves them too: the rebuild waits for its lock, then judges again.)
    for (int i = 0; i < spec.count; i++) {
        std::string staging = StagingPath(spec.prefix, spec.stores[i]);
        struct stat st;
        if (lstat(staging.c_str(), &st) == 0) {
            LogAt(LOG_ERR, loc, "%s is left of a build that did not end, so rebuild db.", staging.c_str());
            return 2;
        }
    }
    for (int i = 0; i < spec.count; i++) {
        std::string path = LivePath(spec.prefix, spec.stores[i]);
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            LogAt(LOG_ERR, loc, "stat(%s) failed, so rebuild db. (errno=%s)", path.c_str(), strerror(errno));
            return 2;
        }
        if (st.st_size < KORV_BDB_MIN_STORE_SIZE) {
            LogAt(LOG_ERR, loc, "st_size(%s)=%llu, so rebuild db.", path.c_str(),
                  static_cast<unsigned long long>(st.st_size));
            return 2;
        }
        int deprecated = KORVBDbDeprecatedGet(Store(spec, set, i));
        if (deprecated < 0)
            return -1;
        if (deprecated == 1)
            return 1;
    }
    for (int i = 0; i < spec.count; i++) {
        const StoreSpec &s = spec.stores[i];
        if (!s.source)
            continue;
        struct stat st;
        if (stat(s.source, &st) != 0) {
            int err = errno;
            ErrAt(err == EACCES   ? KORL_ERR_PERMISSION
                  : err == ENOMEM ? KORL_ERR_NO_MEMORY
                  : err == ENOENT ? KORL_ERR_NO_DEVICE
                                  : KORL_ERR_STAT,
                  loc);
            return -1;
        }
        // Times are the device's 32-bit words.
        int need = KORVBDbIsNeedToRebuild(Store(spec, set, i), static_cast<int32_t>(st.st_mtime));
        if (need < 0)
            return -1;
        if (need == 1)
            return 2;
    }
    return 0;
}

bool PathFits(const SetSpec &spec, const char *prefix)
{
    size_t longest = 0;
    for (int i = 0; i < spec.count; i++) {
        const StoreSpec &s = spec.stores[i];
        longest = std::max({longest, strlen(s.suffix) + 4 + (s.stagingSuffix ? strlen(s.stagingSuffix) : 0)});
    }
    return strlen(prefix) + longest <= kPathMax;
}

}  // namespace

bool BuildingNewSet()
{
    return gBuildingNew > 0;
}

void SetClose(const SetSpec &spec, void *set)
{
    if (!set)
        return;
    CloseStores(spec, set);
    free(set);
}

int SetOpen(const SetSpec &spec, void **ppSet, const char *prefix, Loc loc)
{
    if (!ppSet || !prefix || !PathFits(spec, prefix)) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    void *set = NewRecord(spec, loc);
    if (!set)
        return -1;
    int r = OpenAll(spec, prefix, set, loc);
    int result = 0;
    if (r == 1) {
        RebuildLock lock(LockPath(prefix), loc);
        if (!lock.held()) {
            free(set);
            return -1;
        }
        // Another process may have built the set while this one waited.
        r = OpenAll(spec, prefix, set, loc);
        if (r == 1) {
            void *old = strcmp(prefix, spec.prefix) == 0 ? *ppSet : nullptr;
            if (BuildAndReplace(spec, prefix, old, false, loc) != 0) {
                free(set);
                return -1;
            }
            r = OpenAll(spec, prefix, set, loc);
            if (r == 1) {
                LogAt(LOG_ERR, loc, "KORVBDbOpen [%s] failed. korverr=0x%04X", prefix, KORLErrGet());
                r = -1;
            }
            result = 1;
        }
    }
    if (r != 0) {
        free(set);
        return -1;
    }
    SetClose(spec, *ppSet);
    *ppSet = set;
    return result;
}

int SetSourcesCurrent(const SetSpec &spec, void *set, Loc loc)
{
    if (!set) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    for (int i = 0; i < spec.count; i++) {
        const StoreSpec &s = spec.stores[i];
        struct stat st;
        // A text file that is not there holds nothing a dump could overwrite.
        if (!s.source || stat(s.source, &st) != 0)
            continue;
        int need = KORVBDbIsNeedToRebuild(Store(spec, set, i), static_cast<int32_t>(st.st_mtime));
        if (need < 0)
            return -1;
        if (need == 1) {
            LogAt(LOG_ERR, loc, "%s changed since its store was built, so it is not written over.", s.source);
            ErrAt(KORL_ERR_OPEN, loc);
            return 0;
        }
    }
    return 1;
}

int SetRebuild(const SetSpec &spec, Loc loc)
{
    RebuildLock lock(LockPath(spec.prefix), loc);
    if (!lock.held())
        return -1;
    return BuildAndReplace(spec, spec.prefix, nullptr, true, loc);
}

int SetCheck(const SetSpec &spec, void **ppSet, Loc loc)
{
    if (!ppSet || !*ppSet) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    int need = Decide(spec, *ppSet, loc);
    if (need <= 0)
        return need;

    std::optional<RebuildLock> lock;
    if (need == 2) {
        if (!lock.emplace(LockPath(spec.prefix), loc).held())
            return -1;
        // The need is judged again on the live files once the lock is held: another process may
        // have rebuilt the set meanwhile.
        bool stale = true;
        if (void *fresh = NewRecord(spec, loc)) {
            stale = OpenAll(spec, spec.prefix, fresh, loc) != 0 || Decide(spec, fresh, loc) != 0;
            SetClose(spec, fresh);
        }
        if (stale && BuildAndReplace(spec, spec.prefix, *ppSet, true, loc) != 0) {
            LogAt(LOG_ERR, loc, "%s failed, korverr=0x%04X", spec.rebuildName, KORLErrGet());
            return -1;
        }
    }
    if (SetOpen(spec, ppSet, spec.prefix, loc) < 0) {
        LogAt(LOG_ERR, loc, "%s() Error, KORLError=(0x%04X)", spec.openName, KORLErrGet());
        return -1;
    }
    return 1;
}

}  // namespace korv::bdb
