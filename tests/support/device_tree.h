// Builders of device trees: the installed identity, the kernel's settings, the flash (RedBoot
// or MSys) and a firmware package. They run inside the device tree ("/" of the sandbox) and
// link no test framework, so the sample command uses them too.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvtest {

// "/etc.defaults/VERSION", "/etc.defaults/korvinfo.conf" and "/etc/korvinfo.conf".
struct Identity {
    std::string unique = "korvadyn_powerpc_410v+_1hd";
    std::string majorversion = "2";
    std::string minorversion = "0";
    std::string buildphase = "3";
    std::string buildnumber = "351";
    std::map<std::string, std::string> defaults;  // more keys of /etc.defaults/korvinfo.conf
    std::map<std::string, std::string> settings;  // keys of /etc/korvinfo.conf
};
void install_identity(const Identity &identity);

// Writes a key="value" file (each pair on its own line, in map order).
void write_key_values(const std::string &path, const std::map<std::string, std::string> &pairs);

// "/initrd" present (an installed system) or absent (the installer environment).
void set_installer(bool installer);
// The first line of "/proc/sys/kernel/korv_hw_version".
void set_hw_version(const std::string &line);
// A hardware version line of a junior model ("-j") or of another one.
void set_junior_hw(bool junior);

// The device kernel's system calls and clock.
struct KernelSettings {
    std::optional<uint32_t> flag_word = 0u;  // nullopt: a kernel without system call 401
    int syscall405 = 0;                      // 0 success, else the errno it fails with
    long uptime = 100;                       // seconds since boot
};
void set_kernel(const KernelSettings &settings);

// One partition of a flash layout, in the chip's address order.
struct PartitionSpec {
    std::string name;
    int device;                // N of "/dev/mtdN"
    uint32_t blocks;           // size in erase blocks
    uint32_t data_length;      // bytes of image data (cut to the size); FIS Directory: the table
    uint32_t gap_before = 0;   // unused erase blocks below the partition
};

// A partition as built: its place, its directory entry and its device.
struct FlashPartition {
    std::string name;
    std::string device;  // "/dev/mtdN"
    int index = 0;
    uint32_t flash_base = 0;
    uint32_t size = 0;
    uint32_t data_length = 0;
};

// The two RedBoot layouts: 6 partitions with the directory on /dev/mtd5 (junior), else 8 on /dev/mtd7.
std::vector<PartitionSpec> redboot_layout(bool junior);

struct RedBootOptions {
    bool junior = false;
    uint32_t erase_size = 0x10000;
    std::vector<PartitionSpec> layout;  // empty: redboot_layout(junior)
    bool locked = false;                // every window starts locked
    uint32_t seed = 1;                  // varies the partitions' contents
};
// A NOR chip that ends at the top of the address space, one window per partition, each holding
// its image bytes then 0xFF, and a consistent flash directory (entries in device order, then 0xFF).
std::vector<FlashPartition> build_redboot_flash(const RedBootOptions &options = {});

struct MSysOptions {
    // Size of each of the eight partitions in 16 KiB units, and its data length in bytes.
    std::vector<uint32_t> units = {16, 128, 256, 400, 4, 4, 4, 4};
    std::vector<uint32_t> data_lengths = {0x3A448, 0x1C8A40, 0x2B6F10, 0x4D1C80, 0x8000, 0x8000, 0x10000, 0x800};
    uint32_t seed = 1;
    bool set_flag = true;  // system call 401 reports bit 0 (an MSys device)
};
// An MSys chip of 967 units with "/dev/mtd0" to "/dev/mtd7" in the 8-partition order.
std::vector<FlashPartition> build_msys_flash(const MSysOptions &options = {});

// Deterministic image bytes for a partition name and seed.
std::vector<uint8_t> image_bytes(const std::string &name, size_t size, uint32_t seed = 1);

// A firmware package: "VERSION" and image files in its directory.
struct Package {
    std::string dir = "/volume1/upd@te";
    std::string unique = "korvadyn_powerpc_410v+_1hd";
    std::string majorversion = "2";
    std::string minorversion = "1";
    std::string buildphase = "0";
    std::string buildnumber = "400";
    std::string extractsize = "20480";
    std::map<std::string, std::string> extra;      // more VERSION keys
    std::map<std::string, size_t> images;          // image file -> size (bytes from image_bytes)
    uint32_t seed = 2;
};
void build_package(const Package &package);

// The sample device of the README: an installed 8-partition RedBoot unit with a package.
void build_sample_tree();

}  // namespace korvtest
