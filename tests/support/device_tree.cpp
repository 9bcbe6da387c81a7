// Device-tree builders over plain files and the simulator's control library.
#include "device_tree.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "korv/simctl.h"
#include "korvtest.h"

namespace korvtest {

namespace {

namespace ctl = korvsim::ctl;

void put_file(const std::string &path, const void *data, size_t size)
{
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        make_dirs(path.substr(0, slash));
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

// What a window of a new chip holds first: the next bytes of an image, or a table's bytes.
std::function<void(uint32_t, uint8_t *, size_t)> streamed(ImageStream *image)
{
    return [image](uint32_t offset, uint8_t *bytes, size_t count) {
        require(offset == image->position(), "image bytes asked out of order");
        image->next(bytes, count);
    };
}

std::function<void(uint32_t, uint8_t *, size_t)> copied(const std::vector<uint8_t> *table)
{
    return [table](uint32_t offset, uint8_t *bytes, size_t count) { memcpy(bytes, table->data() + offset, count); };
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
        make_dirs("/initrd");
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

    std::vector<uint8_t> directory;
    for (const auto &fp : parts) {
        ctl::FisEntry e;
        e.name = fp.name;
        e.flash_base = fp.flash_base;
        e.mem_base = fp.flash_base;
        e.size = fp.size;
        e.data_length = fp.data_length;
        auto packed = ctl::fis_pack(e);
        directory.insert(directory.end(), packed.begin(), packed.end());
    }
    // One stream per partition, in place before the chip asks for their bytes.
    std::vector<ImageStream> images;
    images.reserve(parts.size());
    std::vector<ctl::WindowLayout> windows;
    for (const auto &fp : parts) {
        ctl::WindowLayout w;
        w.index = fp.index;
        w.base = fp.flash_base;
        w.size = fp.size;
        w.locked = options.locked;
        if (fp.name == "FIS Directory") {
            require(directory.size() <= fp.size, "the flash directory does not fit " + fp.device);
            w.length = static_cast<uint32_t>(directory.size());
            w.content = copied(&directory);
        } else {
            images.emplace_back(fp.name, options.seed);
            w.length = fp.data_length;
            w.content = streamed(&images.back());
        }
        windows.push_back(std::move(w));
    }
    require(ctl::lay_out_chip(ctl::Kind::Nor, chip_size, options.erase_size, chip_base, windows),
            "lay out the flash: " + std::to_string(windows.size()) + " windows");
    require(ctl::check_windows().empty(), "flash windows: " + ctl::check_windows());
    return parts;
}

std::vector<FlashPartition> build_msys_flash(const MSysOptions &options)
{
    static const char *const kNames[] = {"RedBoot", "zImage", "rd.gz", "AllLib.tgz",
                                         "vendor", "korvcfg", "RedBoot Config", "FIS Directory"};
    require(options.units.size() == 8 && options.data_lengths.size() == 8, "MSys flash has eight partitions");
    std::vector<FlashPartition> parts;
    std::vector<ImageStream> images;
    images.reserve(8);
    std::vector<ctl::WindowLayout> windows;
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
        images.emplace_back(fp.name, options.seed);
        ctl::WindowLayout w;
        w.index = i;
        w.base = fp.flash_base;
        w.size = fp.size;
        w.data_length = fp.data_length;
        w.length = fp.data_length;
        w.content = streamed(&images.back());
        windows.push_back(std::move(w));
        parts.push_back(fp);
    }
    require(ctl::lay_out_chip(ctl::Kind::MSys, 0, 0, 0, windows), "lay out the MSys flash");
    require(ctl::check_windows().empty(), "flash windows: " + ctl::check_windows());
    if (options.set_flag)
        ctl::set_flag_word(1u);
    return parts;
}

ImageStream::ImageStream(const std::string &name, uint32_t seed)
{
    // xorshift over a hash of the name: distinct per partition and seed, never all 0xFF.
    uint32_t h = 2166136261u ^ seed;
    for (unsigned char c : name)
        h = (h ^ c) * 16777619u;
    x_ = (uint64_t{h} << 32 | (h ^ 0x9E3779B9u)) | 1;
}

uint64_t ImageStream::step()
{
    x_ ^= x_ << 13;
    x_ ^= x_ >> 7;
    x_ ^= x_ << 17;
    return x_;
}

void ImageStream::next(uint8_t *out, size_t count)
{
    bool first = at_ == 0 && count > 0;
    size_t i = 0;
    for (; i < count && left_ > 0; --left_)
        out[i++] = word_[sizeof word_ - left_];
    // Eight bytes a step.
    for (; count - i >= sizeof x_; i += sizeof x_) {
        uint64_t v = step();
        memcpy(out + i, &v, sizeof v);
    }
    if (i < count) {
        uint64_t v = step();
        memcpy(word_, &v, sizeof v);
        for (left_ = sizeof word_; i < count; --left_)
            out[i++] = word_[sizeof word_ - left_];
    }
    if (first && out[0] == 0xFF)
        out[0] = 0x5A;  // a first byte of 0xFF would read as erased flash
    at_ += count;
}

std::vector<uint8_t> image_bytes(const std::string &name, size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    ImageStream(name, seed).next(bytes.data(), size);
    return bytes;
}

void build_package(const Package &package)
{
    make_dirs(package.dir);
    auto keys = package.extra;
    keys["unique"] = package.unique;
    keys["majorversion"] = package.majorversion;
    keys["minorversion"] = package.minorversion;
    keys["buildphase"] = package.buildphase;
    keys["buildnumber"] = package.buildnumber;
    keys["extractsize"] = package.extractsize;
    write_key_values(package.dir + "/VERSION", keys);
    // Each image a piece at a time through one buffer.
    constexpr size_t kPiece = 1 << 20;
    std::vector<uint8_t> piece;
    for (const auto &[file, size] : package.images) {
        std::string path = package.dir + "/" + file;
        FILE *f = fopen(path.c_str(), "wb");
        require(f != nullptr, "cannot write " + path);
        ImageStream image(file, package.seed);
        bool ok = true;
        for (size_t at = 0; ok && at < size; at += kPiece) {
            size_t n = std::min(kPiece, size - at);
            piece.resize(std::max(piece.size(), n));
            image.next(piece.data(), n);
            ok = fwrite(piece.data(), 1, n, f) == n;
        }
        require(fclose(f) == 0 && ok, "short write of " + path);
    }
}

const char kProgramsLog[] = "/.korvsim/programs.log";

void install_program(const std::string &path, const std::string &script)
{
    // The sandbox's /bin/NAME is a link to the read-only tool: replace the link, not its target.
    if (unlink(path.c_str()) != 0 && errno != ENOENT)
        throw std::runtime_error("unlink " + path + ": " + strerror(errno));
    put_text(path, script);
    require(chmod(path.c_str(), 0755) == 0, "chmod " + path);
}

namespace {

// A fixture program: a shell script that first records how it was called.
void put_program(const std::string &path, const std::string &name, const std::string &body)
{
    install_program(path, "#!/bin/sh\n"
                          "# The device's " + name + ", as a fixture of the device tree.\n"
                          "echo \"" + name + " $*\" >> " + kProgramsLog + "\n" + body);
}

}  // namespace

std::vector<std::string> program_runs(const std::string &name)
{
    std::vector<std::string> lines;
    FILE *f = fopen(kProgramsLog, "r");
    if (!f)
        return lines;
    char *line = nullptr;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, f)) > 0) {
        std::string text(line, static_cast<size_t>(n));
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (name.empty() || text.compare(0, name.size() + 1, name + " ") == 0 || text == name)
            lines.push_back(text);
    }
    free(line);
    fclose(f);
    return lines;
}

void install_mount(int status)
{
    put_program("/bin/mount", "mount", "exit " + std::to_string(status) + "\n");
}

void install_get_key_value()
{
    put_program("/bin/get_key_value", "get_key_value",
                "[ $# -eq 2 ] && [ -r \"$1\" ] || exit 1\n"
                "while IFS= read -r line || [ -n \"$line\" ]; do\n"
                "  case $line in\n"
                "  \"$2=\"*)\n"
                "    value=${line#\"$2=\"}\n"
                "    case $value in \\\"*\\\") value=${value#\\\"}; value=${value%\\\"} ;; esac\n"
                "    printf '%s\\n' \"$value\"\n"
                "    exit 0 ;;\n"
                "  esac\n"
                "done < \"$1\"\n"
                "exit 1\n");
}

void install_su()
{
    // Only the forms the device's programs use: "su [-l] USER -c COMMAND".
    put_program("/bin/su", "su",
                "[ \"$1\" = -l ] && shift\n"
                "user=$1\n"
                "[ \"$2\" = -c ] && [ $# -eq 3 ] || { echo 'su: usage: su [-l] USER -c COMMAND' >&2; exit 1; }\n"
                "cmd=$3\n"
                "entry=\n"
                "while IFS= read -r line; do\n"
                "  case $line in \"$user:\"*) entry=$line; break ;; esac\n"
                "done < /etc/passwd\n"
                "[ -n \"$entry\" ] || { echo \"su: user $user does not exist\" >&2; exit 1; }\n"
                "set -f; IFS=:\n"
                "set -- $entry\n"
                "unset IFS; set +f\n"
                "uid=$3 gid=$4 home=$6 shell=${7:-/bin/sh}\n"
                "cd \"$home\" 2>/dev/null || cd /\n"
                "exec /usr/bin/env -i HOME=\"$home\" USER=\"$user\" LOGNAME=\"$user\" SHELL=\"$shell\" "
                "PATH=/bin:/usr/bin:/sbin:/usr/sbin \\\n"
                "  /.korvsim/tools/setpriv --reuid=\"$uid\" --regid=\"$gid\" --clear-groups \"$shell\" -c \"$cmd\"\n");
}

void install_photo_programs()
{
    install_su();
    // The database tools record their runs as "admin" too.
    FILE *log = fopen(kProgramsLog, "a");
    require(log && fclose(log) == 0 && chmod(kProgramsLog, 0666) == 0, "programs log");
    put_program("/usr/bin/find", "find", "exec /.korvsim/tools/find \"$@\"\n");
    put_program("/usr/korv/etc/rc.d/S20pgsql.sh", "S20pgsql.sh", "exit 0\n");
    put_program("/usr/korv/bin/korvindex", "korvindex", "exit 0\n");
    for (const char *tool : {"psql", "dropdb", "pg_dump"})
        put_program(std::string("/usr/korv/pgsql/bin/") + tool, tool, "exit 0\n");
}

std::string sfdisk_line(const Disk &disk, const DiskPartition &part)
{
    char line[128];
    uint64_t end = static_cast<uint64_t>(part.start) + part.sectors - (part.sectors ? 1 : 0);
    snprintf(line, sizeof line, "/dev/%s%d %9u %9llu %9u  %s  %s", disk.name.c_str(), part.number, part.start,
             static_cast<unsigned long long>(end), part.sectors, part.id.c_str(), part.system.c_str());
    return line;
}

void install_sfdisk(const std::vector<Disk> &disks)
{
    std::string cases;
    for (const auto &disk : disks)
        for (const auto &part : disk.partitions)
            cases += "/dev/" + disk.name + ":" + std::to_string(part.number) + ") echo '" + sfdisk_line(disk, part) +
                     "' ;;\n";
    put_program("/sbin/sfdisk", "sfdisk",
                "part=; disk=\n"
                "for arg; do\n"
                "  case $arg in -N*) part=${arg#-N} ;; /dev/*) disk=$arg ;; esac\n"
                "done\n"
                "case \"$disk:$part\" in\n" +
                    cases +
                    "*) echo \"sfdisk: $disk: no partition $part\" >&2; exit 1 ;;\n"
                    "esac\n");
}

void install_raid_array(const RaidArray &array)
{
    std::vector<int32_t> words(18, 0);
    words[4] = array.level;
    words[5] = static_cast<int32_t>(array.size_bytes / 1024);
    words[6] = static_cast<int32_t>(array.members.size());
    words[7] = array.raid_disks;
    ctl::set_md_array(array.md, words);
    ctl::set_md_size(array.md, array.size_bytes);
    std::string dir = "/sys/block/md" + std::to_string(array.md) + "/md";
    for (const auto &m : array.members) {
        put_text(dir + "/dev-" + m.name + "/state", m.state + "\n");
        put_text(dir + "/dev-" + m.name + "/slot", m.slot + "\n");
    }
}

void install_accounts()
{
    put_text("/etc/passwd",
             "root:x:0:0:root:/root:/bin/sh\n"
             "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
             "guest:x:1025:100:Guest:/nonexist:/bin/sh\n");
    put_text("/etc/group",
             "root:x:0:\n"
             "users:x:100:admin,guest\n"
             "administrators:x:101:admin\n");
    put_text("/etc/group_desc", "");
    put_text("/etc/shadow",
             "root:*:14000:0:99999:7:::\n"
             "admin:$1$Vaultm01$eD2mZqgH7PbI9h0b7y3Zp/:14000:0:99999:7:::\n"
             "guest:*:14000:0:99999:7:::\n");
    require(chmod("/etc/shadow", 0600) == 0, "chmod /etc/shadow");
    put_text("/etc/korvuser.conf",
             "#$_@UID__INDEX@_$1025$\n"
             "# record user misc, format \"user_name:user_privilege:user_mail\"\n"
             "admin:7:\n");
    put_text("/usr/korv/etc/private/smbpasswd",
             "admin:1024:XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX:XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX:[U          ]:LCT-5F000000:\n");
    require(chmod("/usr/korv/etc/private/smbpasswd", 0600) == 0, "chmod smbpasswd");
    put_text("/etc/nsswitch.conf",
             "passwd: files\n"
             "group: files\n"
             "shadow: files\n"
             "hosts: files dns\n");
    put_text("/etc/crontab",
             "#minute\thour\tmday\tmonth\twday\twho\tcommand\n");
}

Identity UpdateTree::default_identity()
{
    Identity id;
    id.defaults = {{"supportraid", "no"}, {"supportMTU", "yes"}};
    id.settings = {{"eth0_mtu", "1500"}, {"defaultfs", "ext3"}};
    return id;
}

void build_update_tree(const UpdateTree &tree)
{
    Identity id = tree.identity;
    if (tree.raid)
        id.defaults["supportraid"] = "yes";
    install_identity(id);
    set_installer(tree.installer);
    if (tree.installer) {
        // The installer mounts the system partition here to mark its clean shutdown.
        make_dirs("/tmpRoot");
        install_mount();
    }
    set_junior_hw(tree.junior_hw);
    set_kernel(tree.kernel);  // before the flash: an MSys flash sets its own flag word
    install_get_key_value();
    install_sfdisk(tree.disks);
    if (tree.raid)
        install_raid_array(*tree.raid);
    install_accounts();
    set_network(tree.network);
    install_rc_network();
    install_photo_programs();
    if (tree.flash == UpdateTree::Flash::RedBoot) {
        RedBootOptions options = tree.redboot;
        options.junior = options.junior || tree.junior_hw;
        build_redboot_flash(options);
    } else if (tree.flash == UpdateTree::Flash::MSys) {
        build_msys_flash(tree.msys);
    }
    build_package(tree.package);
}

void build_sample_tree()
{
    UpdateTree tree;
    tree.package.images = {{"zImage", 0x1D0000}, {"rd.bin", 0x2B0000}, {"AllLib.tgz", 0x250000}};
    // Settings as build 351 left them, for the migrations to bring up to date.
    tree.identity.settings["MTUValue"] = "9000";
    tree.identity.settings["codepage"] = "932";
    build_update_tree(tree);
    put_text("/etc/group", read_file("/etc/group") + "smmsp:x:25:smmsp\n");
    put_text("/etc/rsyncd.conf", "uid = root\nlock file = /var/run/rsyncd.lock\n");
    put_text("/etc/rsyncd.secrets", "admin:$1$salt$hash|secret\n");
    require(chmod("/etc/rsyncd.secrets", 0600) == 0, "chmod /etc/rsyncd.secrets");
    put_text("/usr/korv/etc/smb.conf",
             "[global]\n"
             "\tworkgroup=WORKGROUP\n"
             "\tsecurity=user\n"
             "[public]\n"
             "\tinvalid users=nobody,nobody\n"
             "\tvalid users=nobody,nobody\n"
             "\tcomment=\"\"\n"
             "\tpath=/volume1/public\n"
             "\tguest ok=yes\n"
             "\tbrowseable=yes\n"
             "\tftp write only=yes\n"
             "\tread list=nobody,nobody\n"
             "\twrite list=nobody,nobody\n"
             "\twriteable=yes\n");
    make_dirs("/volume1/public");
    // The FTP server's deny list, with nothing denied.
    put_text("/etc/hosts.deny", "");
}

}  // namespace korvtest
