// Builders of device trees: the installed identity, the kernel's settings, the flash (RedBoot
// or MSys) and a firmware package. They run inside the device tree ("/" of the sandbox) and
// link no test framework, so the sample command uses them too.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device_net.h"

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
// The same bytes as a stream: each next() gives the bytes that follow the last ones given, so an
// image is made piece by piece in a buffer the caller reuses.
class ImageStream {
public:
    ImageStream(const std::string &name, uint32_t seed);
    void next(uint8_t *out, size_t count);
    uint64_t position() const { return at_; }

private:
    uint64_t step();  // the next eight bytes of the xorshift

    uint64_t x_;
    uint64_t at_ = 0;
    uint8_t word_[8] = {};
    size_t left_ = 0;  // bytes of word_ not given yet (its last ones)
};

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

// The tree's own program at path ("/bin/dd") in place of the host's tool (also in korvtest.h).
void install_program(const std::string &path, const std::string &script);

// Programs of the device that the library and the updater run through the shell, as small
// scripts. Each appends one line, its name and its arguments, to kProgramsLog when it runs.
extern const char kProgramsLog[];  // "/.korvsim/programs.log"
std::vector<std::string> program_runs(const std::string &name = "");  // lines of kProgramsLog

// "/bin/mount": records its arguments, mounts nothing and exits with status.
void install_mount(int status = 0);

// "/bin/get_key_value FILE KEY": prints the first value of KEY in FILE without its quotes, or
// nothing (status 1) when FILE or KEY is missing.
void install_get_key_value();

// "/bin/su [-l] USER -c COMMAND": runs COMMAND with USER's shell as USER of "/etc/passwd" (its
// uid and gid, no other groups), in its home folder (else "/"), with a login's environment only.
void install_su();

// The photo service's programs that the updater runs at the start of stage C, each recording
// its run: "/usr/bin/find" (then the host's find), "/usr/korv/etc/rc.d/S20pgsql.sh",
// "/usr/korv/bin/korvindex" and the database tools "/usr/korv/pgsql/bin/psql", "dropdb" and
// "pg_dump" (which do nothing more), and `install_su`.
void install_photo_programs();

// One partition line of the device's "/sbin/sfdisk -l -uS -NN /dev/DISK".
struct DiskPartition {
    int number = 1;
    uint32_t start = 0;    // first sector
    uint32_t sectors = 0;  // the line's end sector is start + sectors - 1
    std::string id = "83";
    std::string system = "Linux";
};
struct Disk {
    std::string name = "hda";
    // The resizable system disk: partition 1 of 530082 sectors, partition 3 after sector 1333331.
    std::vector<DiskPartition> partitions = {{1, 63, 530082}, {2, 530145, 803187, "82", "Linux swap"},
                                             {3, 1333332, 18000000}};
};
// "/sbin/sfdisk": prints the asked partition's line of one of these disks, else fails.
void install_sfdisk(const std::vector<Disk> &disks = {Disk{}});
// The partition line exactly as the fixture prints it.
std::string sfdisk_line(const Disk &disk, const DiskPartition &part);

// A running md array with its members under "/sys/block/mdN/md/dev-NAME" (state, slot).
struct RaidMember {
    std::string name;               // "sda5"
    std::string state = "in_sync";  // the state file's line
    std::string slot = "0";
};
struct RaidArray {
    int md = 0;
    int32_t level = 1;      // the md level
    int32_t raid_disks = 2;
    uint64_t size_bytes = 1ull << 31;
    std::vector<RaidMember> members = {{"sda1"}, {"sdb1", "in_sync", "1"}};
};
void install_raid_array(const RaidArray &array);

// Account and system files a run reads, of a unit with root, admin and guest: "/etc/passwd",
// "/etc/shadow", "/etc/korvuser.conf" and the SMB password file, "/etc/group" and
// "/etc/group_desc" (docs/accounts.md), "/etc/nsswitch.conf" and "/etc/crontab".
void install_accounts();

// Everything an update run needs, each part as a passing run has it; a test changes only what
// differs. The installed unit is build 351 of the 8-partition RedBoot model without RAID, up for
// 100 seconds, with eth0 at 1000 Mbit/s and its MTU of 1500 stored, and a package of build 400
// in "/volume1/upd@te".
struct UpdateTree {
    Identity identity = default_identity();
    bool installer = false;            // "/initrd" absent; "/tmpRoot" and the mount fixture
    bool junior_hw = false;            // the hardware version line ends "-j"
    KernelSettings kernel{};
    enum class Flash { RedBoot, MSys, None } flash = Flash::RedBoot;
    RedBootOptions redboot{};          // its `junior` follows junior_hw unless set
    MSysOptions msys{};
    Package package{};
    std::vector<Disk> disks = {Disk{}};
    std::optional<RaidArray> raid;     // also sets "supportraid" to yes
    std::vector<NetInterface> network = {loopback(), ethernet("eth0", "192.168.1.20")};
    static Identity default_identity();
};
void build_update_tree(const UpdateTree &tree = {});

// The sample device of the README: an installed 8-partition RedBoot unit with a package, and
// the files of a unit beyond a run's own as build 351 left them: settings for the migrations
// ("MTUValue", a numeric code page), a "smmsp" group without admin, the rsync server's files
// (a secret in plain text), smb.conf with its share "public" ("ftp write only") and an empty
// "/etc/hosts.deny".
void build_sample_tree();

}  // namespace korvtest
