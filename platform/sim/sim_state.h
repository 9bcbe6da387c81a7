// The simulated kernel's state, kept as plain files under /.korvsim/ of the device tree so
// that every process of the tree (the updater, a test, a shell `dd`) sees the same device.
// Shared by the simulator (korv_platform) and its control library (korv_simctl). The flash's
// own state is in sim_flash.h; the device handlers meet in sim_devices.h.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "korv_le32.h"
#include "korv_unique.h"

namespace korvsim {

inline constexpr const char *kStateDir = "/.korvsim";
inline constexpr const char *kKernelConf = "/.korvsim/kernel.conf";
inline constexpr const char *kFaultsConf = "/.korvsim/faults.conf";
inline constexpr const char *kRequestsLog = "/.korvsim/requests.log";
inline constexpr const char *kLockFile = "/.korvsim/lock";

// Serialises the state files between processes for the lifetime of the guard.
class StateLock {
public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock &) = delete;
    StateLock &operator=(const StateLock &) = delete;

private:
    int fd_ = -1;
};

// A descriptor of the simulator's own file work, closed on scope exit: the one descriptor
// holder of the support headers, under the name the simulator uses.
struct Fd : korv::UniqueFd {
    using korv::UniqueFd::UniqueFd;
    bool ok() const { return static_cast<bool>(*this); }
};

// pwrite / pread of all `count` bytes at `offset`; EINTR is retried, 0 or an error ends it.
bool write_all(int fd, const void *buf, size_t count, off_t offset);
bool read_all(int fd, void *buf, size_t count, off_t offset);
void ensure_state_dir();

// key=value files: one pair per line, '#' starts a comment line; order kept by key.
using Conf = std::map<std::string, std::string>;
Conf conf_load(const char *path);
// Written through a temporary file in the same folder and renamed over the target.
bool conf_save(const char *path, const Conf &conf);
bool write_file_atomic(const char *path, const std::string &content);
bool read_whole(const char *path, std::string *out);
// Calls `take` with every line of a state file but blank ones and '#' comments.
template <typename Take>
void each_line(const char *path, Take take)
{
    std::string text;
    if (!read_whole(path, &text))
        return;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            take(line);
}
// A number of a Conf (decimal or 0x hexadecimal), or fallback when absent or malformed.
uint64_t conf_u64(const Conf &conf, const std::string &key, uint64_t fallback = 0);

std::string hex32(uint64_t value);

// Stored forms (flash-directory entries) use little-endian words whatever the host: the
// library's own codec.
using korv::Le32Get;
using korv::Le32Put;
bool parse_u64(const std::string &text, uint64_t *value);  // decimal or 0x hexadecimal
bool parse_int(const std::string &text, long long *value);

// Errno names as the state files and the request log write them ("EROFS"); numbers accepted.
std::string errno_name(int err);
int errno_parse(const std::string &text);  // -1 when unknown

// One line of /.korvsim/requests.log.
void log_request(const std::string &device, const std::string &request, const std::string &args,
                 long long result, int err);

// Fault injection; see docs/simulator.md for the forms of faults.conf.
struct Fault {
    std::string kind;     // fail, corrupt, shortwrite
    std::string device;   // path, "*" for any, "kernel" for the system calls
    std::string request;  // fail: request name
    int err = 0;
    bool once = false;
    uint64_t offset = 0;  // corrupt: byte offset in the device; shortwrite: bytes allowed
    uint8_t mask = 0x01;  // corrupt: XOR applied to the byte
    uint64_t done = 0;    // shortwrite: bytes written since the fault was set
    uint64_t skip = 0;    // fail: matching requests that still pass before it fires
};
std::vector<Fault> faults_load();
bool faults_save(const std::vector<Fault> &faults);
std::string fault_format(const Fault &f);
std::optional<Fault> fault_parse(const std::string &line);
// A "fail" fault for this request on this device: its errno (consumed when once), else 0.
int fault_fail(const std::string &device, const std::string &request);

// The kernel's settings.
Conf kernel_load();
bool kernel_save(const Conf &conf);

}  // namespace korvsim
