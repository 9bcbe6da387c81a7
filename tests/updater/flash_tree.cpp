#include "flash_tree.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace ctl = korvsim::ctl;

namespace updatertest {

const char kKeptBackup[] = "/.korvsim/kept-backup";

void install_keeping_rm()
{
    korvtest::install_program("/bin/rm", std::string("#!/bin/sh\n"
                                                     "for arg; do\n"
                                                     "  case $arg in\n"
                                                     "  */b@ckup) if [ -d \"$arg\" ]; then\n"
                                                     "      /.korvsim/tools/rm -rf ") +
                                             kKeptBackup + "\n      /.korvsim/tools/cp -a \"$arg\" " + kKeptBackup +
                                             "\n    fi ;;\n"
                                             "  esac\n"
                                             "done\n"
                                             "exec /.korvsim/tools/rm \"$@\"\n");
}

const std::vector<PartitionRef> &layout_parts(bool junior)
{
    static const std::vector<PartitionRef> eight = {
        {"RedBoot", "RedBoot.msys", 0}, {"zImage", "zImage", 1},   {"rd.gz", "rd.bin", 2},
        {"AllLib.tgz", "AllLib.tgz", 3}, {"vendor", "vendor", 4},   {"korvcfg", "korvcfg", 5},
        {"RedBoot Config", "RedBoot Config", 6}, {"FIS Directory", "FIS Directory", 7},
    };
    static const std::vector<PartitionRef> six = {
        {"RedBoot", "RedBoot.msys", 0}, {"zImage", "zImage", 1},
        {"rd.gz", "rd.bin", 2},         {"vendor", "vendor", 3},
        {"RedBoot Config", "RedBoot Config", 4}, {"FIS Directory", "FIS Directory", 5},
    };
    return junior ? six : eight;
}

const PartitionRef &part_named(bool junior, const std::string &name)
{
    for (const auto &p : layout_parts(junior))
        if (p.name == name)
            return p;
    throw std::runtime_error("no partition " + name);
}

std::vector<uint8_t> FlashPicture::packed_entry(const std::string &name) const
{
    for (const auto &e : directory)
        if (e.name == name)
            return ctl::fis_pack(e);
    return {};
}

FlashPicture picture(bool junior)
{
    FlashPicture p;
    for (const auto &w : ctl::windows()) {
        p.windows[w.index] = w;
        p.bytes[w.index] = ctl::read_window(w.index);
    }
    p.directory = ctl::read_fis(directory_index(junior));
    return p;
}

namespace {

std::string hex(uint32_t v)
{
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string place_diff(const PartitionRef &part, const ctl::WindowInfo &have, uint32_t base, uint32_t size)
{
    if (have.base == base && have.size == size)
        return "";
    return part.name + ": window at " + hex(have.base) + " of " + hex(have.size) + ", not " + hex(base) + " of " +
           hex(size) + "\n";
}

// The first offset where `have` differs from `length` bytes of `want` then 0xFF up to `size`
// bytes, for the message; compared in place.
std::string bytes_diff(const PartitionRef &part, const std::vector<uint8_t> &have, const uint8_t *want, size_t length,
                       size_t size)
{
    size_t n = std::min(length, size);
    const uint8_t *h = have.data();
    if (have.size() == size && (n == 0 || memcmp(h, want, n) == 0) &&
        (n == size || (h[n] == 0xFF && memcmp(h + n, h + n + 1, size - n - 1) == 0)))
        return "";
    size_t at = 0;
    while (at < have.size() && at < size && have[at] == (at < n ? want[at] : 0xFF))
        ++at;
    return part.name + ": " + std::to_string(have.size()) + " bytes, differing from the " + std::to_string(size) +
           " expected at offset " + std::to_string(at) + "\n";
}

std::string bytes_diff(const PartitionRef &part, const std::vector<uint8_t> &have, const std::vector<uint8_t> &want)
{
    return bytes_diff(part, have, want.data(), want.size(), want.size());
}

}  // namespace

std::string holds_old(const FlashPicture &before, const FlashPicture &after, const PartitionRef &part)
{
    if (!after.windows.count(part.index))
        return part.name + ": no window\n";
    const auto &w = before.windows.at(part.index);
    std::string out = place_diff(part, after.windows.at(part.index), w.base, w.size);
    if (part.name == "FIS Directory") {
        // The directory partition holds the entries of the others, which the checks of those
        // partitions look at: here, the same entries in the same order, nothing else.
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < after.directory.size(); ++i) {
            if (i >= before.directory.size() || after.directory[i].name != before.directory[i].name)
                out += part.name + ": entry " + std::to_string(i) + " is " + after.directory[i].name + "\n";
            auto packed = korvsim::ctl::fis_pack(after.directory[i]);
            bytes.insert(bytes.end(), packed.begin(), packed.end());
        }
        if (after.directory.size() != before.directory.size())
            out += part.name + ": " + std::to_string(after.directory.size()) + " entries\n";
        out += bytes_diff(part, after.bytes.at(part.index), bytes.data(), bytes.size(), w.size);
    } else {
        out += bytes_diff(part, after.bytes.at(part.index), before.bytes.at(part.index));
    }
    if (after.packed_entry(part.name) != before.packed_entry(part.name))
        out += part.name + ": directory entry changed\n";
    return out;
}

std::string holds_new(const FlashPicture &before, const FlashPicture &after, const PartitionRef &part,
                      const std::vector<uint8_t> &image, const Place *place)
{
    if (!after.windows.count(part.index))
        return part.name + ": no window\n";
    const auto &old = before.windows.at(part.index);
    Place want = place ? *place : Place{old.base, old.size};
    std::string out = place_diff(part, after.windows.at(part.index), want.base, want.size);
    out += bytes_diff(part, after.bytes.at(part.index), image.data(), image.size(), want.size);
    ctl::FisEntry entry;
    for (const auto &e : before.directory)
        if (e.name == part.name)
            entry = e;
    entry.flash_base = want.base;
    entry.size = want.size;
    entry.data_length = static_cast<uint32_t>(image.size());
    if (after.packed_entry(part.name) != ctl::fis_pack(entry))
        out += part.name + ": directory entry is not {" + hex(want.base) + ", " + hex(want.size) + ", " +
               hex(entry.data_length) + "}\n";
    return out;
}

std::vector<ProgressValue> write_progress(const std::vector<uint64_t> &lengths)
{
    uint64_t total = 0;
    for (uint64_t l : lengths)
        total += 2 * l;
    auto value = [total](uint64_t done) { return ProgressValue{'P', static_cast<int>(60 + done * 40 / total)}; };
    std::vector<ProgressValue> out;
    uint64_t done = 0;
    for (uint64_t l : lengths) {
        out.push_back(value(done));
        for (uint64_t chunk : {16384ull, 8192ull})
            for (uint64_t at = 0; at < l; at += chunk) {
                done += std::min(chunk, l - at);
                out.push_back(value(done));
            }
    }
    return out;
}

}  // namespace updatertest
