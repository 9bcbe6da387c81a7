// The record of the rewrites' temporary copies: what a killed process left, the next one
// removes, and never another file of a similar name.
#include "korv_staging_record.h"

#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "korv_rewrite.h"
#include "korv_unique.h"

namespace korv {

namespace {

int gRecord = -1;
pid_t gRecordPid = 0;  // the process that opened it: a forked child shares the number, not the record
std::string gRecordPath;

bool Owned()
{
    return gRecord >= 0 && gRecordPid == getpid();
}

// What the record's last line of a path says of it.
struct Noted {
    enum State { kNamed, kMade, kDone } state = kDone;
    bool newFile = false;  // the copy of a file that did not exist yet: none stands beside it
    dev_t dev = 0;
    ino_t ino = 0;
};

bool IsAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The folders of an absolute path without "." or ".." parts and no control byte, and its last
// name, which must extend a file's name by ".XXXXXX" as the rewrite names its copies.
bool SplitCopyPath(const std::string &path, std::vector<std::string> *dirs, std::string *name)
{
    if (path.size() < 2 || path.size() >= PATH_MAX || path[0] != '/')
        return false;
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    std::vector<std::string> parts;
    for (size_t at = 1; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        std::string part = path.substr(at, end - at);
        if (part.empty() || part == "." || part == "..")
            return false;
        parts.push_back(part);
        at = end + 1;
    }
    *name = parts.back();
    parts.pop_back();
    *dirs = parts;
    if (name->size() < 8 || (*name)[name->size() - 7] != '.')
        return false;
    for (size_t i = name->size() - 6; i < name->size(); ++i)
        if (!IsAlnum((*name)[i]))
            return false;
    return true;
}

// Each path the record names, and what its last line says (lines cut by the kill or malformed
// name nothing). Only the first kStagingRecordBound bytes are read.
std::map<std::string, Noted> ReadRecord(int fd, const char *record)
{
    std::string text;
    bool over = false;
    ReadChunks(fd, [&](const char *data, size_t n) {
        size_t room = kStagingRecordBound - text.size();
        text.append(data, n < room ? n : room);
        over = n > room;
        return over ? -1 : 0;
    });
    if (over)
        syslog(LOG_ERR, "%s(%d): [%s] is longer than %zu bytes; what lies beyond is ignored", __func__, __LINE__,
               record, kStagingRecordBound);
    std::map<std::string, Noted> noted;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = text.substr(at, end - at);
        if (line.size() < 2)
            continue;
        std::string rest = line.substr(1);
        if (line[0] == '+' || line[0] == '*') {
            noted[rest] = {Noted::kNamed, line[0] == '*'};
        } else if (line[0] == '-') {
            noted[rest] = {Noted::kDone};
        } else if (line[0] == '=') {
            // "DEV INO PATH", the numbers in decimal.
            uintmax_t dev = 0, ino = 0;
            int used = 0;
            if (sscanf(rest.c_str(), "%ju %ju %n", &dev, &ino, &used) == 2 && used > 0 &&
                static_cast<size_t>(used) < rest.size() && rest[static_cast<size_t>(used) - 1] == ' ' &&
                rest[static_cast<size_t>(used)] == '/') {
                Noted &n = noted[rest.substr(static_cast<size_t>(used))];
                n = {Noted::kMade, n.state == Noted::kNamed && n.newFile, static_cast<dev_t>(dev),
                     static_cast<ino_t>(ino)};
            }
        }
    }
    return noted;
}

// The copy's folder, reached from "/" one folder at a time and never through a link.
UniqueFd OpenFolder(const std::vector<std::string> &dirs)
{
    UniqueFd dir(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const std::string &d : dirs) {
        if (!dir)
            break;
        dir.reset(openat(dir.get(), d.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return dir;
}

void RemoveCopy(const std::string &path, const Noted &noted, time_t recordTime)
{
    std::vector<std::string> dirs;
    std::string name;
    if (!SplitCopyPath(path, &dirs, &name))
        return;
    UniqueFd dir = OpenFolder(dirs);
    struct stat target, st;
    // A copy stands beside the file it replaces, unless the record said that file was new.
    if (!dir || fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!noted.newFile && fstatat(dir.get(), name.substr(0, name.size() - 7).c_str(), &target, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    // What this process's rewrites made: a plain file of its own with no other name, the very one
    // noted; one noted before it was made holds nothing yet and has mkstemp's mode.
    bool ours = S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1;
    if (noted.state == Noted::kMade)
        ours = ours && st.st_dev == noted.dev && st.st_ino == noted.ino;
    else
        ours = ours && st.st_size == 0 && (st.st_mode & 07777) == 0600 && st.st_ctim.tv_sec >= recordTime;
    if (!ours) {
        syslog(LOG_ERR, "%s(%d): [%s] is not the copy the record names; it is kept", __func__, __LINE__,
               path.c_str());
        return;
    }
    if (unlinkat(dir.get(), name.c_str(), 0) == 0)
        syslog(LOG_ERR, "%s(%d): removed [%s], the copy an interrupted update left", __func__, __LINE__,
               path.c_str());
    else
        syslog(LOG_ERR, "%s(%d): fail to remove [%s], errno=%d", __func__, __LINE__, path.c_str(), errno);
}

void Sweep(const char *record)
{
    UniqueFd fd(open(record, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return;
    struct stat st;
    // Only a record this user wrote may name files to remove.
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 022)) {
        syslog(LOG_ERR, "%s(%d): [%s] is not the updater's own record; nothing it names is removed", __func__,
               __LINE__, record);
        return;
    }
    for (const auto &[path, noted] : ReadRecord(fd.get(), record))
        if (noted.state != Noted::kDone)
            RemoveCopy(path, noted, st.st_mtim.tv_sec);
}

// One line; with sync, on the medium before what it announces happens.
void Note(const std::string &line, const char *tempPath, bool sync)
{
    if (!Owned())
        return;
    if (write(gRecord, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
        (sync && fdatasync(gRecord) != 0))
        syslog(LOG_ERR, "%s(%d): fail to note [%s] in [%s], errno=%d", __func__, __LINE__, tempPath,
               gRecordPath.c_str(), errno);
}

}  // namespace

void StagingRecordBegin(const char *path)
{
    if (Owned() || !path)
        return;
    Sweep(path);
    if (unlink(path) != 0 && errno != ENOENT) {
        syslog(LOG_ERR, "%s(%d): fail to remove [%s], errno=%d", __func__, __LINE__, path, errno);
        return;
    }
    gRecord = open(path, O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (gRecord < 0) {
        syslog(LOG_ERR, "%s(%d): fail to create [%s], errno=%d", __func__, __LINE__, path, errno);
        return;
    }
    gRecordPid = getpid();
    gRecordPath = path;
}

void StagingRecordEnd()
{
    // A forked child leaves the number alone: it may name another of its files by now.
    if (!Owned())
        return;
    close(gRecord);
    gRecord = -1;
    unlink(gRecordPath.c_str());
    gRecordPath.clear();
}

void StagingRecordNamed(const char *tempPath, bool newFile)
{
    if (Owned())
        Note(std::string(newFile ? "*" : "+") + tempPath + "\n", tempPath, true);
}

void StagingRecordMade(const char *tempPath, int fd)
{
    struct stat st;
    if (!Owned())
        return;
    if (fstat(fd, &st) != 0) {
        syslog(LOG_ERR, "%s(%d): fail to stat [%s], errno=%d", __func__, __LINE__, tempPath, errno);
        return;
    }
    Note("=" + std::to_string(static_cast<uintmax_t>(st.st_dev)) + " " +
             std::to_string(static_cast<uintmax_t>(st.st_ino)) + " " + tempPath + "\n",
         tempPath, true);
}

void StagingRecordDone(const char *tempPath)
{
    // A done line that the medium lost names a copy that is gone, or a file that fails the
    // sweep's checks: it needs no sync of its own.
    if (Owned())
        Note(std::string("-") + tempPath + "\n", tempPath, false);
}

}  // namespace korv
