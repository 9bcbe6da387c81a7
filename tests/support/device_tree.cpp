// Device-tree builders over plain files and the simulator's control library.
#include "device_tree.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "korv/simctl.h"

namespace korvtest {

namespace {

namespace ctl = korvsim::ctl;

void mkdirs(const std::string &path)
{
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            throw std::runtime_error("mkdir " + part + " failed");
        if (at == std::string::npos)
            break;
    }
}

void put_file(const std::string &path, const void *data, size_t size)
{
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        mkdirs(path.substr(0, slash));
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write " + path);
    size_t n = size ? fwrite(data, 1, size, f) : 0;
    bool ok = fclose(f) == 0 && n == size;
    if (!ok)
        throw std::runtime_error("short write of " + path);
}

void put_text(const std::string &path, const std::string &text)
{
    put_file(path, text.data(), text.size());
}

void require(bool ok, const std::string &what)
{
    if (!ok)
        throw std::runtime_error(what);
}

// A partition's content: its image bytes, then erased flash.
std::vector<uint8_t> partition_bytes(const std::string &name, uint32_t size, uint32_t length, uint32_t seed)
{
    std::vector<uint8_t> bytes = image_bytes(name, std::min(size, length), seed);
    bytes.resize(size, 0xFF);
    return bytes;
}

}  // namespace

void write_key_values(const std::string &path, const std::map<std::string, std::string> &pairs)
{
    std::string text;
    for (const auto &[key, value] : pairs)
        text += key + "=\"" + value + "\"\n";
    put_text(path, text);
}

void install_identity(const Identity &id)
{
    write_key_values("/etc.defaults/VERSION", {{"unique", id.unique},
                                               {"majorversion", id.majorversion},
                                               {"minorversion", id.minorversion},
                                               {"buildphase", id.buildphase},
                                               {"buildnumber", id.buildnumber}});
    auto defaults = id.defaults;
    defaults.emplace("unique", id.unique);
    write_key_values("/etc.defaults/korvinfo.conf", defaults);
    write_key_values("/etc/korvinfo.conf", id.settings);
}

void set_installer(bool installer)
{
    if (installer) {
        rmdir("/initrd");
        unlink("/initrd");
    } else {
        mkdirs("/initrd");
    }
}

void set_hw_version(const std::string &line)
{
    put_text("/proc/sys/kernel/korv_hw_version", line);
}

void set_junior_hw(bool junior)
{
    set_hw_version(junior ? "VMH-110-j\n" : "VMH-410\n");
}

void set_kernel(const KernelSettings &settings)
{
    ctl::set_flag_word(settings.flag_word);
    ctl::set_syscall405(settings.syscall405);
    ctl::set_uptime(settings.uptime);
}

std::vector<PartitionSpec> redboot_layout(bool junior)
{
    if (junior) {
        // With 64 KiB blocks: the flash directory that the device's boot loader writes.
        return {
            {"zImage", 1, 13, 0xC5EDA},
            {"vendor", 3, 1, 0x10000},
            {"RedBoot Config", 4, 1, 0x10000},
            {"RedBoot", 0, 4, 0x3A448, 1},
            {"rd.gz", 2, 11, 0xAEE2C},
            {"FIS Directory", 5, 1, 0},
        };
    }
    return {
        {"zImage", 1, 32, 0x1C8A40},
        {"rd.gz", 2, 48, 0x2B6F10},
        {"AllLib.tgz", 3, 40, 0x24D1C8},
        {"vendor", 4, 1, 0x10000},
        {"korvcfg", 5, 1, 0x8000},
        {"RedBoot Config", 6, 1, 0x10000},
        {"RedBoot", 0, 4, 0x3A448},
        {"FIS Directory", 7, 1, 0},
    };
}

std::vector<FlashPartition> build_redboot_flash(const RedBootOptions &options)
{
    std::vector<PartitionSpec> layout = options.layout.empty() ? redboot_layout(options.junior) : options.layout;
    uint64_t blocks = 0;
    for (const auto &p : layout)
        blocks += p.gap_before + p.blocks;
    uint64_t chip_size = blocks * options.erase_size;
    require(chip_size > 0 && chip_size <= (1ull << 32), "flash layout does not fit 4 GiB");
    uint32_t chip_base = static_cast<uint32_t>((1ull << 32) - chip_size);
    require(ctl::create_chip(ctl::Kind::Nor, chip_size, options.erase_size, chip_base), "create chip");

    std::vector<FlashPartition> parts;
    uint64_t at = chip_base;
    for (const auto &p : layout) {
        at += static_cast<uint64_t>(p.gap_before) * options.erase_size;
        FlashPartition fp;
        fp.name = p.name;
        fp.index = p.device;
        fp.device = "/dev/mtd" + std::to_string(p.device);
        fp.flash_base = static_cast<uint32_t>(at);
        fp.size = p.blocks * options.erase_size;
        fp.data_length = std::min(p.data_length, fp.size);
        at += fp.size;
        parts.push_back(fp);
    }
    // The directory lists the partitions in device order and describes itself too.
    std::sort(parts.begin(), parts.end(), [](const auto &a, const auto &b) { return a.index < b.index; });
    for (auto &fp : parts)
        if (fp.name == "FIS Directory")
            fp.data_length = std::min<uint32_t>(static_cast<uint32_t>(parts.size() * 256), fp.size);

    std::vector<ctl::FisEntry> entries;
    for (const auto &fp : parts) {
        ctl::FisEntry e;
        e.name = fp.name;
        e.flash_base = fp.flash_base;
        e.mem_base = fp.flash_base;
        e.size = fp.size;
        e.data_length = fp.data_length;
        entries.push_back(e);
    }
    for (const auto &fp : parts) {
        require(ctl::define_window(fp.index, fp.flash_base, fp.size), "define " + fp.device);
        if (fp.name == "FIS Directory")
            require(ctl::write_fis(fp.index, entries), "write the flash directory");
        else
            require(ctl::fill_window(fp.index, 0, partition_bytes(fp.name, fp.size, fp.data_length, options.seed)),
                    "fill " + fp.device);
        if (options.locked)
            require(ctl::set_locked(fp.index, true), "lock " + fp.device);
    }
    require(ctl::check_windows().empty(), "flash windows: " + ctl::check_windows());
    return parts;
}

std::vector<FlashPartition> build_msys_flash(const MSysOptions &options)
{
    static const char *const kNames[] = {"RedBoot", "zImage", "rd.gz", "AllLib.tgz",
                                         "vendor", "korvcfg", "RedBoot Config", "FIS Directory"};
    require(options.units.size() == 8 && options.data_lengths.size() == 8, "MSys flash has eight partitions");
    require(ctl::create_chip(ctl::Kind::MSys, 0, 0), "create MSys chip");
    std::vector<FlashPartition> parts;
    uint32_t at = 0;
    for (int i = 0; i < 8; ++i) {
        FlashPartition fp;
        fp.name = kNames[i];
        fp.index = i;
        fp.device = "/dev/mtd" + std::to_string(i);
        fp.flash_base = at;
        fp.size = options.units[i] * 16384u;
        fp.data_length = std::min(options.data_lengths[i], fp.size);
        at += fp.size;
        require(ctl::define_window(i, fp.flash_base, fp.size, false, fp.data_length), "define " + fp.device);
        require(ctl::fill_window(i, 0, partition_bytes(fp.name, fp.size, fp.data_length, options.seed)),
                "fill " + fp.device);
        parts.push_back(fp);
    }
    require(ctl::check_windows().empty(), "flash windows: " + ctl::check_windows());
    if (options.set_flag)
        ctl::set_flag_word(1u);
    return parts;
}

std::vector<uint8_t> image_bytes(const std::string &name, size_t size, uint32_t seed)
{
    // xorshift over a hash of the name: distinct per partition and seed, never all 0xFF.
    uint32_t x = 2166136261u ^ seed;
    for (unsigned char c : name)
        x = (x ^ c) * 16777619u;
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<uint8_t>(x);
    }
    if (!bytes.empty() && bytes[0] == 0xFF)
        bytes[0] = 0x5A;  // a first byte of 0xFF would read as erased flash
    return bytes;
}

void build_package(const Package &package)
{
    mkdirs(package.dir);
    auto keys = package.extra;
    keys["unique"] = package.unique;
    keys["majorversion"] = package.majorversion;
    keys["minorversion"] = package.minorversion;
    keys["buildphase"] = package.buildphase;
    keys["buildnumber"] = package.buildnumber;
    keys["extractsize"] = package.extractsize;
    write_key_values(package.dir + "/VERSION", keys);
    for (const auto &[file, size] : package.images) {
        auto bytes = image_bytes(file, size, package.seed);
        put_file(package.dir + "/" + file, bytes.data(), bytes.size());
    }
}

void build_sample_tree()
{
    Identity id;
    id.defaults = {{"supportraid", "no"}, {"supportMTU", "yes"}};
    id.settings = {{"eth0_mtu", "1500"}, {"defaultfs", "ext3"}};
    install_identity(id);
    set_installer(false);
    set_junior_hw(false);
    set_kernel({});
    build_redboot_flash();
    Package package;
    package.images = {{"zImage", 0x1D0000}, {"rd.bin", 0x2B0000}, {"AllLib.tgz", 0x250000}};
    build_package(package);
}

}  // namespace korvtest
