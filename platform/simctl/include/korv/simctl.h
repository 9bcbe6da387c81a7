// Control of the simulated device kernel, for tests and the device-tree builders.
// Runs inside the device tree (the sandbox's "/"); the state lives under /.korvsim/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvsim::ctl {

enum class Kind { Nor, MSys };

struct WindowInfo {
    int index = 0;          // N of "/dev/mtdN"
    uint32_t base = 0;      // flash address
    uint32_t size = 0;
    bool locked = false;
    uint32_t data_length = 0;  // MSys: bytes in use
};

struct ChipInfo {
    Kind kind = Kind::Nor;
    uint32_t base = 0;
    uint64_t size = 0;       // up to 4 GiB: a chip may end at the top of the address space
    uint32_t erase_size = 0;
    bool msys_prepared = false;
};

// Flash chip. A new chip forgets every window and removes their mirrors.
// NOR: base is the chip's flash address (the chip may end at 0x100000000).
// MSys: base 0, size 967 units of 16 KiB unless given.
bool create_chip(Kind kind, uint64_t size, uint32_t erase_size, uint32_t base = 0, uint8_t fill = 0xFF);
std::optional<ChipInfo> chip();
// The erase block a NOR chip's driver reports (MEMGETINFO) and erases in from now on, 0 included;
// its windows stay as they are. False for an MSys chip (its unit is fixed) or without a chip.
bool set_erase_size(uint32_t erase_size);
// Defines (or redefines) "/dev/mtdN" as the window [base, base+size) and exports its mirror.
bool define_window(int index, uint32_t base, uint32_t size, bool locked = false, uint32_t data_length = 0);
bool remove_window(int index);
// One window of a chip laid out whole: its place and settings, and its first `length` bytes from
// `content`, called with the offset in the window and the bytes to fill, in increasing offsets
// (the window's other bytes are the chip's fill).
struct WindowLayout {
    int index = 0;
    uint32_t base = 0;
    uint32_t size = 0;
    bool locked = false;
    uint32_t data_length = 0;
    uint32_t length = 0;
    std::function<void(uint32_t offset, uint8_t *bytes, size_t count)> content;
};
// create_chip, then every window defined and filled, with the chip written once and each mirror
// exported once. Refused, with the tree's flash left as it was, for what create_chip refuses, a
// window outside the chip or of size 0, two windows that overlap or share an index, and a length
// beyond its window.
bool lay_out_chip(Kind kind, uint64_t size, uint32_t erase_size, uint32_t base,
                  const std::vector<WindowLayout> &windows, uint8_t fill = 0xFF);
std::vector<WindowInfo> windows();
std::optional<WindowInfo> window(int index);
bool set_locked(int index, bool locked);
bool set_data_length(int index, uint32_t length);
// Sets bytes of a window directly (as a programmer would, no flash rules); mirrors follow.
bool fill_window(int index, uint32_t offset, const std::vector<uint8_t> &bytes);
bool fill_window(int index, uint32_t offset, uint32_t count, uint8_t value);
// A window's bytes as the chip holds them, after importing changed mirrors.
std::vector<uint8_t> read_window(int index);
// "" when every window lies inside the chip and no two overlap, else what is wrong.
std::string check_windows();
// Takes what programs wrote into the mirrors into the chip now, as every simulated call does
// first; a mirror that is gone stays gone, unlogged, and the chip keeps its bytes. The sandbox
// launcher calls it as a session's command ends, before the mirrors' mounts go with the session.
void import_mirrors();

// RedBoot flash-directory entries (256 bytes each, little-endian words).
struct FisEntry {
    std::string name;  // at most 16 bytes on the flash
    uint32_t flash_base = 0;
    uint32_t mem_base = 0;
    uint32_t size = 0;
    uint32_t entry_point = 0;
    uint32_t data_length = 0;
    uint32_t desc_cksum = 0;
    uint32_t file_cksum = 0;
};
std::vector<uint8_t> fis_pack(const FisEntry &entry);
std::optional<FisEntry> fis_unpack(const uint8_t *bytes, size_t size);
// Writes the entries from offset 0 of the window and erases (0xFF) the rest of it.
bool write_fis(int index, const std::vector<FisEntry> &entries);
// The entries before the first free one (first byte 0xFF).
std::vector<FisEntry> read_fis(int index);

// Kernel settings.
void set_flag_word(std::optional<uint32_t> word);   // nullopt: a kernel without system call 401
void set_syscall405(int err);                       // 0: success, else that errno
void set_uptime(long seconds);
std::string driver_buffer_state();                  // "allocated", "free" or "" before any call
void set_md_array(int md, const std::vector<int32_t> &words);  // GET_ARRAY_INFO, up to 18 words
void remove_md_array(int md);
void set_md_size(int md, uint64_t bytes);
void set_md_rebuild(int md, uint32_t due, uint32_t done, uint32_t total);

// Network interfaces as the interface requests of an AF_INET socket see them (net.conf). The
// interface lister reads the names from "/proc/net/dev", a file of the tree that the device-net
// builders (tests/support/device_net.h) write together with these settings.
struct Interface {
    std::string name;         // at most 15 characters
    uint16_t flags = 0x1043;  // SIOCGIFFLAGS: IFF_UP | IFF_BROADCAST | IFF_RUNNING | IFF_MULTICAST
    std::string hwaddr;       // "00:11:32:0a:0b:0c"; "" reads as all zero
    std::string addr;         // dotted IPv4; "": none (SIOCGIFADDR fails with EADDRNOTAVAIL)
    std::string netmask;      // "": none (SIOCGIFNETMASK fails with EADDRNOTAVAIL)
    int mtu = 1500;
    int mtu_max = 9000;       // SIOCSIFMTU takes 68 to this, else EINVAL
    std::optional<int> speed; // ETHTOOL_GSET in Mbit/s; nullopt: EOPNOTSUPP
    int duplex = 1;           // ETHTOOL_GSET: 0 half, 1 full, or any other byte
};
// Adds or replaces the interface; false for a malformed name or address.
bool set_interface(const Interface &interface);
bool remove_interface(const std::string &name);
std::optional<Interface> interface(const std::string &name);
std::vector<Interface> interfaces();  // by name

// Fault injection. `device` is a path, "*" for any device, "kernel" for the system calls, "net"
// for the network socket and "net:NAME" for the requests about interface NAME.
// Requests: OPEN READ WRITE LSEEK, the ioctl names of the request log, SYS401 SYS405 UPTIME,
// SOCKET, and PUT DEL of a record store (the device is the store's path; it must be named before
// the store is opened).
// The first `skip` matching requests pass, then the fault fires.
void fail_request(const std::string &device, const std::string &request, int err, bool once = true,
                  uint64_t skip = 0);
// Reads of `device` return the byte at `offset` XOR `mask`.
void corrupt_read(const std::string &device, uint64_t offset, uint8_t mask = 0x01, bool once = false);
// Writes to `device` pass `bytes` bytes in all (the last one cut short), then fail with `err`
// (0: return 0 without an error); `once` ends the fault with that write.
void short_write(const std::string &device, uint64_t bytes, int err, bool once = true);
void clear_faults();

// The request log.
struct Request {
    std::string device;
    std::string name;
    std::string args;
    long long result = 0;
    int err = 0;  // errno when result < 0
    std::string line;
};
std::vector<Request> requests();
std::vector<Request> requests(const std::string &device, const std::string &name);
void clear_requests();

}  // namespace korvsim::ctl
