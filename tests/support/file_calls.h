// fsync and fchmod of a test program that uses this header pass through it: each call is counted
// by the file it reaches, and calls on chosen files fail on demand, since a disk seldom gives
// those faults when asked. The calls themselves go to the kernel unchanged.
#pragma once

#include <string>

namespace korvtest {

enum class FileCall { kFsync, kFchmod };

// How many times call reached the file now at path (its inode), since the program started.
int file_calls(FileCall call, const std::string &path);

// Calls on a file whose path begins with prefix fail with err, until cleared with err 0.
void fail_file_calls(FileCall call, const std::string &prefix, int err);

}  // namespace korvtest
