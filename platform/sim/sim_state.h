// The simulated kernel's state, kept as plain files under /.korvsim/ of the device tree so
// that every process of the tree (the updater, a test, a shell `dd`) sees the same device.
// Shared by the simulator (korv_platform) and its control library (korv_simctl).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "korv_le32.h"

namespace korvsim {

inline constexpr const char *kStateDir = "/.korvsim";
inline constexpr const char *kKernelConf = "/.korvsim/kernel.conf";
inline constexpr const char *kFlashConf = "/.korvsim/flash.conf";
inline constexpr const char *kChipBin = "/.korvsim/chip.bin";
inline constexpr const char *kFaultsConf = "/.korvsim/faults.conf";
inline constexpr const char *kRequestsLog = "/.korvsim/requests.log";
inline constexpr const char *kLockFile = "/.korvsim/lock";
// Mount points of the tmpfs that hold the mirrors' bytes, one per window.
inline constexpr const char *kMirrorDir = "/.korvsim/mtd";

// Mirrors carry this modification time after every export, so that any later write by
// another program (which stamps the current time) is seen even within one clock tick.
inline constexpr time_t kMirrorMtime = 946684800;  // 2000-01-01 00:00:00 UTC

inline constexpr uint32_t kMSysUnit = 16384;
inline constexpr uint32_t kMSysUnits = 967;
inline constexpr int kMSysPartitions = 8;

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

// key=value files: one pair per line, '#' starts a comment line; order kept by key.
using Conf = std::map<std::string, std::string>;
Conf conf_load(const char *path);
// Written through a temporary file in the same folder and renamed over the target.
bool conf_save(const char *path, const Conf &conf);
bool write_file_atomic(const char *path, const std::string &content);
bool read_whole(const char *path, std::string *out);

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

enum class ChipKind { Nor, MSys };

struct Stamp {
    uint64_t ino = 0;
    uint64_t size = 0;
    int64_t sec = 0;
    int64_t nsec = 0;
    bool operator==(const Stamp &) const = default;
};

struct Window {
    uint64_t base = 0;  // flash address
    uint64_t size = 0;
    bool locked = false;
    uint64_t data_length = 0;  // MSys: bytes in use
    std::optional<Stamp> stamp;  // of the mirror as last exported
};

struct Flash {
    bool present = false;
    ChipKind kind = ChipKind::Nor;
    uint64_t chip_base = 0;  // flash address of the chip's first byte
    uint64_t chip_size = 0;
    uint64_t erase_size = 0;
    bool msys_prepared = false;
    std::map<int, Window> windows;  // by N of "/dev/mtdN"
};

Flash flash_load();
bool flash_save(const Flash &flash);
// Saves `after` when it differs from `before` (stamps, windows, lengths).
bool flash_save_if_changed(const Flash &before, const Flash &after);
// "/dev/mtdN", what programs open: a symbolic link to mirror_store(N), a file on a tmpfs of
// the window's size (or, where no tmpfs can be mounted, a plain file).
std::string mirror_path(int index);
std::string mirror_store(int index);
void mirror_remove(int index);
// Offset of a window's first byte in chip.bin; false when it lies outside the chip.
bool window_in_chip(const Flash &flash, const Window &w);

// chip.bin access; the ranges are chip offsets.
bool chip_read(uint64_t offset, void *buf, size_t count);
bool chip_write(uint64_t offset, const void *buf, size_t count);
bool chip_create(uint64_t size, uint8_t fill);

// Rewrites the whole mirror of a window from the chip and records its stamp in `flash`.
bool mirror_export(Flash &flash, int index);
// Rewrites the mirrors' bytes that overlap chip range [offset, offset+count).
void mirrors_update(Flash &flash, uint64_t offset, size_t count);
// Imports every mirror that another program changed; saves flash.conf when anything changed.
void mirrors_import(Flash &flash);

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
