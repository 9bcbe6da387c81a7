// smb.conf's "ftp write only" share option as the three "ftp disable" options: a line that sets
// it to yes becomes the three lines, any other line holding it is dropped.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include <string_view>

#include "korv_named_lock.h"
#include "korv_rewrite.h"
#include "korv_unique.h"
#include "updater_config.h"

namespace {

const char kSmbConf[] = "/usr/korv/etc/smb.conf";
const char kSource[] = "updater";
const char *const kDisableLines[] = {
    "\tftp disable list=yes\n",
    "\tftp disable modify=yes\n",
    "\tftp disable download=yes\n",
};

// One line of the copy; -1 when a write failed.
int CopyLine(korv::FileRewrite &out, std::string_view line)
{
    if (line.find("ftp write only") == std::string_view::npos)
        return out.Put(line.data(), line.size());
    if (line.find("yes") == std::string_view::npos)
        return 0;
    for (const char *l : kDisableLines)
        if (out.Put(l) < 0)
            return -1;
    return 0;
}

}  // namespace

int ConvertFTPWriteOnlyFlag(void)
{
    // Share changes run under lock_smb; the file is replaced only by a complete copy.
    korv::NamedLock lock(KORL_LOCK_SMB);
    if (lock.Take(LOCK_EX) != 0) {
        syslog(LOG_ERR, "%s (%d) Failed to lock %s", kSource, __LINE__, kSmbConf);
        return -1;
    }
    korv::UniqueFile in(fopen(kSmbConf, "r"));
    if (!in) {
        syslog(LOG_ERR, "%s (%d) Failed to open %s (%s)", kSource, __LINE__, kSmbConf, strerror(errno));
        return -1;
    }
    korv::FileRewrite out(kSmbConf);
    if (out.Begin(fileno(in.get())) < 0) {
        syslog(LOG_ERR, "%s (%d) Failed to open %s (%s)", kSource, __LINE__, kSmbConf, strerror(errno));
        return -1;
    }
    korv::LineReader reader(in.get());
    while (reader.Next()) {
        if (CopyLine(out, std::string_view(reader.data(), reader.size())) < 0) {
            syslog(LOG_ERR, "%s (%d) Failed to write %s (%s)", kSource, __LINE__, out.tempPath(), strerror(errno));
            return -1;
        }
    }
    if (reader.Failed()) {
        syslog(LOG_ERR, "%s (%d) Failed to read %s (%s)", kSource, __LINE__, kSmbConf, strerror(errno));
        return -1;
    }
    if (out.Commit() < 0) {
        syslog(LOG_ERR, "%s (%d) Failed to replace %s (%s)", kSource, __LINE__, kSmbConf, strerror(errno));
        return -1;
    }
    return 0;
}

int UPDTConfigFtpWriteOnly(void)
{
    if (ConvertFTPWriteOnlyFlag() == 0)
        return 0;
    syslog(LOG_ERR, "%s (%d) Failed to convert FTP write only flag", kSource, __LINE__);
    return -1;
}
