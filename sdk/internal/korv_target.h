// The file that a configuration writer changes, found once for every module that rewrites one
// (the file writers, the ifcfg files, smb.conf). Opened here, rewritten with korv_rewrite.h.
#pragma once

#include <stdio.h>

#include <optional>
#include <source_location>
#include <string>

#include "korv_rewrite.h"
#include "korv_unique.h"

namespace korv::file {

// The file that a writer changes: path itself, or the file that a symbolic link of the caller's
// own leads to, so that the rewrite happens beside that file and the link stays. A link of another
// user is refused (as the kernel refuses to follow one in a sticky folder like /tmp), and so is
// anything but a regular file: a FIFO is never waited on, a device node never replaced.
//
//   korv::file::Target target;
//   korv::UniqueFile fp(target.Open(path, "r", &missing));
//   korv::FileRewrite rw(target.path());
class Target {
public:
    // Opens the file for reading ("r"), reading and writing ("r+"), or appending ("a", "a+": the
    // descriptor has O_APPEND, so every write lands at the end). On failure null, with
    // 0x0900 recorded at the caller, except: when missing is given and nothing is there, *missing
    // is set and path() is where to create the file; with quiet, a file that cannot be opened
    // records nothing (refusals still do).
    FILE *Open(const char *path, const char *mode, bool *missing = nullptr, bool quiet = false,
               std::source_location loc = std::source_location::current());
    // The file opened or to be created; valid until the Target goes.
    const char *path() const { return path_.c_str(); }

private:
    std::string path_;
};

// A writer's file opened for reading and the rewrite that replaces it, for writers that copy what
// they read:
//
//   korv::file::TargetRewrite file;
//   if (file.Begin(path) < 0) return -1;
//   ... read file.in(), write file.rw(), file.rw().Commit() ...
//
// Codes are recorded at the writer's call, as Target::Open and FileRewrite record them.
class TargetRewrite {
public:
    // Opens the file as Target::Open does: 0, or -1 (also when *missing is set: path() is where to
    // create the file and rw() may begin a new one).
    int Open(const char *path, const char *mode = "r", bool *missing = nullptr, bool quiet = false,
             std::source_location loc = std::source_location::current());
    // Begins the copy of the open file beside it: 0, or -1.
    int Begin(std::source_location loc = std::source_location::current());
    // Open for reading, then Begin: 0, or -1.
    int Begin(const char *path, bool *missing = nullptr, bool quiet = false,
              std::source_location loc = std::source_location::current());

    FILE *in() const { return in_.get(); }
    UniqueFile &input() { return in_; }
    FileRewrite &rw() { return *rw_; }
    const char *path() const { return target_.path(); }

private:
    Target target_;
    UniqueFile in_;
    std::optional<FileRewrite> rw_;  // made once the path is known; it keeps a pointer to it
};

}  // namespace korv::file
