// The record of the rewrites' temporary copies: what a killed process left, the next one
// removes, and never another file of a similar name.
#include "korv_staging_record.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <map>
#include <string>

#include "korv_rewrite.h"
#include "korv_unique.h"

namespace korv {

namespace {

int gRecord = -1;
std::string gRecordPath;

// "%s.XXXXXX" as mkstemp fills it in, after an absolute path with a file name.
bool IsStagingName(const std::string &path)
{
    size_t dot = path.size() >= 9 ? path.size() - 7 : 0;
    if (dot == 0 || path[0] != '/' || path[dot] != '.' || path[dot - 1] == '/')
        return false;
    for (size_t i = dot + 1; i < path.size(); ++i) {
        char c = path[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// Each path the record names, and whether its last line says it was made (not yet done).
std::map<std::string, bool> OpenCopies(int fd)
{
    std::string text;
    ReadChunks(fd, [&text](const char *data, size_t n) {
        text.append(data, n);
        return 0;
    });
    std::map<std::string, bool> open;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break;  // a line cut short by the kill names nothing for sure
        if (end > at + 1 && (text[at] == '+' || text[at] == '-'))
            open[text.substr(at + 1, end - at - 1)] = text[at] == '+';
        at = end + 1;
    }
    return open;
}

void RemoveCopy(const std::string &path)
{
    struct stat st;
    if (!IsStagingName(path) || lstat(path.c_str(), &st) != 0)
        return;
    // What this process's rewrites made: a plain file of its own with no other name.
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1)
        return;
    if (unlink(path.c_str()) == 0)
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
    for (const auto &[path, made] : OpenCopies(fd.get()))
        if (made)
            RemoveCopy(path);
}

}  // namespace

void StagingRecordBegin(const char *path)
{
    if (gRecord >= 0 || !path)
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
    gRecordPath = path;
}

void StagingRecordEnd()
{
    if (gRecord < 0)
        return;
    close(gRecord);
    gRecord = -1;
    unlink(gRecordPath.c_str());
    gRecordPath.clear();
}

void StagingRecordNote(const char *tempPath, bool made)
{
    if (gRecord < 0)
        return;
    std::string line = std::string(made ? "+" : "-") + tempPath + "\n";
    // On the medium before the copy gets its first byte, so that a power cut leaves it named.
    if (write(gRecord, line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
        (made && fdatasync(gRecord) != 0))
        syslog(LOG_ERR, "%s(%d): fail to note [%s] in [%s], errno=%d", __func__, __LINE__, tempPath,
               gRecordPath.c_str(), errno);
}

}  // namespace korv
