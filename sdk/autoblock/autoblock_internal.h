// Helpers shared by the auto-block functions of this folder.
#pragma once

#include <sys/stat.h>

namespace korv::autoblock {

// The settings keys, spelt as the services read them.
inline constexpr const char kKeyAttempts[] = "autoblock_attempts";
inline constexpr const char kKeyAttemptMin[] = "autoblock_attempt_min";
inline constexpr const char kKeyExpireDays[] = "autoblock_expriedday";
inline constexpr const char kKeyNotify[] = "autoblock_notify";

// "mmap failed", the module's own code.
constexpr int kErrMmap = 0x3D00;

// Clears the umask for the life of the guard and puts the old one back on every return.
class UmaskClear {
public:
    UmaskClear() : old_(umask(0)) {}
    UmaskClear(const UmaskClear &) = delete;
    UmaskClear &operator=(const UmaskClear &) = delete;
    ~UmaskClear() { umask(old_); }

private:
    mode_t old_;
};

}  // namespace korv::autoblock
