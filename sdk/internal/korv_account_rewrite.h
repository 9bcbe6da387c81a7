// Publishing a database as a group of account text files ("/etc/passwd", "/etc/shadow", ...):
// each is written whole under its fixed temporary name (the target + ".tmp") and only when all of
// them are complete and on disk are they renamed over their targets, in the database's order.
//
//   korv::AccountRewrite rw(kFiles, n);
//   if (rw.Open() < 0) ...                     // every temporary file, owner and mode set
//   ... rw.PutLine(i, text) ...
//   if (rw.Finish() < 0) ...                   // flush, fsync, close every file
//   if (korv::AccountRenameTemps(kFiles, n, kRenameOrder) < 0) ...
//
// Temporary files are made afresh (a leftover is removed first) without following a link, with
// the target's owner and mode, or newMode for a target that does not exist yet. An AccountRewrite
// that is not finished removes its temporary files when it goes out of scope, so a failure
// before the renames leaves every target as it was. Failures are recorded and logged at the
// caller: 0x0900 a file cannot be made, 0x0B00 a write, flush or sync failed.
#pragma once

#include <stdio.h>
#include <sys/types.h>

#include <source_location>

#include "korv_unique.h"

namespace korv {

struct AccountFile {
    const char *path;             // the published file
    mode_t newMode;               // its mode when it does not exist yet
    const char *temp = nullptr;   // its temporary name; null: path + ".tmp"
};

// The texts of a database's messages where they differ between the databases.
struct AccountMessages {
    const char *openFailed = "fail to open file";  // logged "%s[%s]" with the temporary name
    const char *flushFailed = "fflush failed!!";   // logged "%s errno=%d/%m"
    bool noSpaceCode = false;                      // a full disk records 0x2900, not 0x0B00
};

// The temporary name of a published file.
int AccountTempPath(const AccountFile &file, char *out, size_t size);

class AccountRewrite {
public:
    AccountRewrite(const AccountFile *files, int count, const AccountMessages &messages = {})
        : files_(files), count_(count), messages_(messages)
    {
    }
    AccountRewrite(const AccountRewrite &) = delete;
    AccountRewrite &operator=(const AccountRewrite &) = delete;
    ~AccountRewrite() { Abandon(); }

    // Makes the temporary files in table order; the first that cannot be made logs "fail to open
    // file[%s]" and fails (0x0900). 0, or -1.
    int Open(std::source_location loc = std::source_location::current());
    // Writes the len bytes of text and a newline to file i: 0, or -1 (0x0B00).
    int PutLine(int i, const char *text, size_t len, std::source_location loc = std::source_location::current());
    int PutLine(int i, const char *text, std::source_location loc = std::source_location::current());
    // PutLine for a stored record: one holding CR or LF would become more than one line of the
    // file (a forged account among them), so it is refused (0x4000, logged with what) and
    // nothing is written. 0, or -1.
    int PutRecord(int i, const char *text, size_t len, const char *what,
                  std::source_location loc = std::source_location::current());
    // Flushes ("fflush failed!! errno=%d/%m"), syncs ("fsync() failed!! errno=%d/%m") and closes
    // every file in table order (0x0B00). The files stay for the renames: 0. -1 removes them all.
    int Finish(std::source_location loc = std::source_location::current());
    // Closes and removes whatever temporary files this rewrite made (also done by the destructor
    // unless Finish succeeded).
    void Abandon();

private:
    static constexpr int kMaxFiles = 8;
    const AccountFile *files_;
    int count_;
    AccountMessages messages_;
    UniqueFile out_[kMaxFiles];
    bool made_[kMaxFiles] = {};
    bool finished_ = false;
};

// Renames the temporary file of each table entry in order (those that exist) over its target;
// the first failure logs LOG_WARNING "rename %s file failed!" (unless log is false: the caller
// names it, *failed holding its index and errno rename's), records 0x2800 and leaves the later
// ones unrenamed. 0, or -1.
int AccountRenameTemps(const AccountFile *files, int count, std::source_location loc = std::source_location::current(),
                       bool log = true, int *failed = nullptr);
// Removes each temporary file that exists; a failure logs LOG_WARNING "remove %s file failed!"
// (unless log is false: then the caller's report(index, errno) is called, when given) and records
// 0x3900; the others are still tried. 0, or -1.
int AccountRemoveTemps(const AccountFile *files, int count, std::source_location loc = std::source_location::current(),
                       bool log = true, void (*report)(int index, int err) = nullptr);

}  // namespace korv
