// The simulated flash: the chip image (/.korvsim/chip.bin), its windows (/.korvsim/flash.conf)
// and the mirrors that show each window to the shell programs as "/dev/mtdN".
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "sim_state.h"

namespace korvsim {

inline constexpr const char *kFlashConf = "/.korvsim/flash.conf";
inline constexpr const char *kChipBin = "/.korvsim/chip.bin";
// Mount points of the tmpfs that hold the mirrors' bytes, one per window.
inline constexpr const char *kMirrorDir = "/.korvsim/mtd";

// Mirrors carry this modification time after every export, so that any later write by
// another program (which stamps the current time) is seen even within one clock tick.
inline constexpr time_t kMirrorMtime = 946684800;  // 2000-01-01 00:00:00 UTC

inline constexpr uint32_t kMSysUnit = 16384;
inline constexpr uint32_t kMSysUnits = 967;
inline constexpr int kMSysPartitions = 8;

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

// A buffer of the simulator's own for one use (slot 0 to 2), grown as needed and kept for the
// process's life, so that no erase or copy allocates the size of its range.
uint8_t *scratch(int slot, size_t size);
// The unit the simulator copies and compares the chip in.
inline constexpr size_t kChunk = 1 << 20;

// A change's skip_mirror that leaves every mirror alone (their windows are laid out anew after it).
inline constexpr int kNoMirrors = -2;

// How a change puts its bytes over the chip's.
enum class Program {
    Fill,  // every byte `fill` (an erase)
    And,   // NOR programming: bits only cleared
    Copy,  // plain overwrite
};
// Applies the change to chip range [offset, offset+count); only the bytes that differ afterwards
// are written, to the chip and to every mirror that shows them (but `skip_mirror`'s). False
// when the chip cannot be read or written.
bool chip_change(Flash &flash, uint64_t offset, size_t count, Program how, const uint8_t *data, uint8_t fill = 0xFF,
                 int skip_mirror = -1);

// Rewrites the whole mirror of a window from the chip and records its stamp in `flash`.
bool mirror_export(Flash &flash, int index);
// The two ends of a whole rewrite of a window's mirror by the caller: its room and link made and
// its file opened for writing in place (an invalid Fd when it cannot be), then the file cut to
// the window's size, sealed and its stamp recorded in `flash`.
Fd mirror_open(Flash &flash, int index);
bool mirror_close(Flash &flash, int index, const Fd &fd);
// Rewrites the mirrors' bytes that overlap chip range [offset, offset+count), from the chip.
void mirrors_update(Flash &flash, uint64_t offset, size_t count);
// What an import does with a mirror that is gone: put it back from the chip (while programs
// still run), or leave it gone (as the session ends and the mirrors' mounts go with it).
enum class MissingMirror { PutBack, Skip };
// Imports every mirror that another program changed; saves flash.conf when that changed it.
void mirrors_import(Flash &flash, MissingMirror missing = MissingMirror::PutBack);
// The same for the tree's flash, under the state lock, when the tree has one; errno is kept.
void mirrors_sync(MissingMirror missing = MissingMirror::PutBack);

}  // namespace korvsim
