// Control of the simulated flash: the chip, its windows and their bytes, RedBoot directories.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "korv/simctl.h"
#include "korv_flash_records.h"
#include "sim_flash.h"

namespace korvsim::ctl {

namespace {

WindowInfo info_of(int index, const Window &w)
{
    return WindowInfo{index, static_cast<uint32_t>(w.base), static_cast<uint32_t>(w.size), w.locked,
                      static_cast<uint32_t>(w.data_length)};
}

// Changes one setting of an existing window.
template <typename Change>
bool change_window(int index, Change change)
{
    StateLock lock;
    Flash flash = flash_load();
    auto it = flash.windows.find(index);
    if (it == flash.windows.end())
        return false;
    change(it->second);
    return flash_save(flash);
}

}  // namespace

namespace {

// The chip of a new layout, checked as create_chip and define_window check theirs.
bool chip_of(Kind kind, uint64_t size, uint32_t erase_size, uint32_t base, Flash *flash)
{
    flash->present = true;
    flash->kind = kind == Kind::MSys ? ChipKind::MSys : ChipKind::Nor;
    if (flash->kind == ChipKind::MSys) {
        base = 0;
        if (size == 0)
            size = static_cast<uint64_t>(kMSysUnits) * kMSysUnit;
        erase_size = kMSysUnit;
    }
    if (size == 0 || erase_size == 0 || size % erase_size != 0 || base + size > (1ull << 32))
        return false;
    flash->chip_base = base;
    flash->chip_size = size;
    flash->erase_size = erase_size;
    return true;
}

// Whether the windows fit the chip as a layout: inside it, of some size, apart, with their bytes.
bool layout_fits(const Flash &flash, const std::vector<WindowLayout> &windows)
{
    std::set<int> seen;
    for (size_t i = 0; i < windows.size(); ++i) {
        const WindowLayout &a = windows[i];
        Window w;
        w.base = a.base;
        w.size = a.size;
        if (a.index < 0 || !seen.insert(a.index).second || a.size == 0 || !window_in_chip(flash, w) ||
            a.length > a.size || (a.length > 0 && !a.content))
            return false;
        for (size_t j = 0; j < i; ++j) {
            const WindowLayout &b = windows[j];
            if (uint64_t{a.base} < uint64_t{b.base} + b.size && uint64_t{b.base} < uint64_t{a.base} + a.size)
                return false;
        }
    }
    return true;
}

// Writes chip range [at, at+count) of the layout to the chip under construction and to the mirror
// of the window holding it (windows never overlap): the fill, then each window's content.
bool lay_out_range(const Flash &flash, const std::vector<WindowLayout> &windows, std::map<int, Fd> &mirrors,
                   int chip, uint64_t at, size_t count, uint8_t fill)
{
    uint8_t *bytes = scratch(0, count);
    memset(bytes, fill, count);
    for (const WindowLayout &l : windows) {
        uint64_t start = l.base - flash.chip_base, end = start + l.size;
        uint64_t lo = std::max(at, start), hi = std::min(at + count, end);
        if (lo >= hi)
            continue;
        uint64_t filled = std::min(hi, start + l.length);
        if (lo < filled)
            l.content(static_cast<uint32_t>(lo - start), bytes + (lo - at), static_cast<size_t>(filled - lo));
        const Fd &mirror = mirrors.at(l.index);
        if (!mirror.ok() ||
            !write_all(mirror.get(), bytes + (lo - at), static_cast<size_t>(hi - lo), static_cast<off_t>(lo - start)))
            return false;
    }
    return write_all(chip, bytes, count, static_cast<off_t>(at));
}

}  // namespace

bool create_chip(Kind kind, uint64_t size, uint32_t erase_size, uint32_t base, uint8_t fill)
{
    StateLock lock;
    Flash flash;
    if (!chip_of(kind, size, erase_size, base, &flash))
        return false;
    Flash old = flash_load();
    for (const auto &[index, w] : old.windows)
        mirror_remove(index);
    return chip_create(flash.chip_size, fill) && flash_save(flash);
}

bool lay_out_chip(Kind kind, uint64_t size, uint32_t erase_size, uint32_t base,
                  const std::vector<WindowLayout> &windows, uint8_t fill)
{
    StateLock lock;
    Flash flash;
    if (!chip_of(kind, size, erase_size, base, &flash) || !layout_fits(flash, windows))
        return false;
    Flash old = flash_load();
    for (const auto &[index, w] : old.windows)
        mirror_remove(index);
    for (const WindowLayout &l : windows) {
        Window &w = flash.windows[l.index];
        w.base = l.base;
        w.size = l.size;
        w.locked = l.locked;
        w.data_length = l.data_length;
    }
    // In chip order, a chunk at a time, so that each content is asked for its bytes in order.
    std::vector<WindowLayout> ordered = windows;
    std::sort(ordered.begin(), ordered.end(), [](const auto &a, const auto &b) { return a.base < b.base; });
    std::map<int, Fd> mirrors;
    for (const WindowLayout &l : ordered)
        mirrors.emplace(l.index, mirror_open(flash, l.index));
    std::string name = std::string(kChipBin) + ".new";
    bool ok;
    {
        Fd chip(open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        ok = chip.ok();
        for (uint64_t at = 0; ok && at < flash.chip_size; at += kChunk) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, flash.chip_size - at));
            ok = lay_out_range(flash, ordered, mirrors, chip.get(), at, n, fill);
        }
    }
    for (auto &[index, fd] : mirrors)
        ok = fd.ok() && mirror_close(flash, index, fd) && ok;
    if (!ok || rename(name.c_str(), kChipBin) != 0) {
        unlink(name.c_str());
        return false;
    }
    return flash_save(flash);
}

bool set_erase_size(uint32_t erase_size)
{
    StateLock lock;
    Flash flash = flash_load();
    if (!flash.present || flash.kind != ChipKind::Nor)
        return false;
    flash.erase_size = erase_size;
    return flash_save(flash);
}

std::optional<ChipInfo> chip()
{
    StateLock lock;
    Flash flash = flash_load();
    if (!flash.present)
        return std::nullopt;
    return ChipInfo{flash.kind == ChipKind::MSys ? Kind::MSys : Kind::Nor,
                    static_cast<uint32_t>(flash.chip_base), flash.chip_size,
                    static_cast<uint32_t>(flash.erase_size), flash.msys_prepared};
}

bool define_window(int index, uint32_t base, uint32_t size, bool locked, uint32_t data_length)
{
    StateLock lock;
    Flash flash = flash_load();
    if (!flash.present || index < 0)
        return false;
    mirrors_import(flash);
    Window w;
    w.base = base;
    w.size = size;
    w.locked = locked;
    w.data_length = data_length;
    if (!window_in_chip(flash, w))
        return false;
    flash.windows[index] = w;
    return mirror_export(flash, index) && flash_save(flash);
}

bool remove_window(int index)
{
    StateLock lock;
    Flash flash = flash_load();
    if (!flash.windows.erase(index))
        return false;
    mirror_remove(index);
    return flash_save(flash);
}

std::vector<WindowInfo> windows()
{
    StateLock lock;
    Flash flash = flash_load();
    mirrors_import(flash);
    std::vector<WindowInfo> out;
    for (const auto &[index, w] : flash.windows)
        out.push_back(info_of(index, w));
    return out;
}

std::optional<WindowInfo> window(int index)
{
    for (const auto &w : windows())
        if (w.index == index)
            return w;
    return std::nullopt;
}

bool set_locked(int index, bool locked)
{
    return change_window(index, [&](Window &w) { w.locked = locked; });
}

bool set_data_length(int index, uint32_t length)
{
    return change_window(index, [&](Window &w) { w.data_length = length; });
}

bool fill_window(int index, uint32_t offset, const std::vector<uint8_t> &bytes)
{
    StateLock lock;
    Flash flash = flash_load();
    mirrors_import(flash);
    auto it = flash.windows.find(index);
    if (it == flash.windows.end() || !window_in_chip(flash, it->second) ||
        static_cast<uint64_t>(offset) + bytes.size() > it->second.size)
        return false;
    uint64_t at = it->second.base - flash.chip_base + offset;
    if (!bytes.empty() && !chip_change(flash, at, bytes.size(), Program::Copy, bytes.data()))
        return false;
    return flash_save(flash);
}

bool fill_window(int index, uint32_t offset, uint32_t count, uint8_t value)
{
    return fill_window(index, offset, std::vector<uint8_t>(count, value));
}

std::vector<uint8_t> read_window(int index)
{
    StateLock lock;
    Flash flash = flash_load();
    mirrors_import(flash);
    auto it = flash.windows.find(index);
    if (it == flash.windows.end() || !window_in_chip(flash, it->second))
        return {};
    std::vector<uint8_t> bytes(it->second.size);
    if (!bytes.empty() && !chip_read(it->second.base - flash.chip_base, bytes.data(), bytes.size()))
        return {};
    return bytes;
}

void import_mirrors()
{
    mirrors_sync(MissingMirror::Skip);
}

std::string check_windows()
{
    StateLock lock;
    Flash flash = flash_load();
    if (!flash.present)
        return "no flash chip";
    std::vector<std::pair<int, Window>> list(flash.windows.begin(), flash.windows.end());
    for (const auto &[index, w] : list)
        if (w.size == 0 || !window_in_chip(flash, w))
            return mirror_path(index) + " [" + hex32(w.base) + ", +" + hex32(w.size) + ") is outside the chip";
    for (size_t i = 0; i < list.size(); ++i)
        for (size_t j = i + 1; j < list.size(); ++j) {
            const Window &a = list[i].second, &b = list[j].second;
            if (a.base < b.base + b.size && b.base < a.base + a.size)
                return mirror_path(list[i].first) + " overlaps " + mirror_path(list[j].first);
        }
    return "";
}

std::vector<uint8_t> fis_pack(const FisEntry &entry)
{
    KORVMTDFISENTRY e;
    memset(&e, 0, sizeof e);
    memcpy(e.name, entry.name.data(), std::min<size_t>(entry.name.size(), sizeof e.name));
    e.flash_base = entry.flash_base;
    e.mem_base = entry.mem_base;
    e.size = entry.size;
    e.entry_point = entry.entry_point;
    e.data_length = entry.data_length;
    e.desc_cksum = entry.desc_cksum;
    e.file_cksum = entry.file_cksum;
    std::vector<uint8_t> bytes(korv::flash::kFisEntrySize, 0);
    korv::flash::PackFisEntry(e, bytes.data());
    return bytes;
}

std::optional<FisEntry> fis_unpack(const uint8_t *bytes, size_t size)
{
    if (!bytes || size < korv::flash::kFisEntrySize)
        return std::nullopt;
    KORVMTDFISENTRY e = korv::flash::UnpackFisEntry(bytes);
    FisEntry out;
    out.name.assign(e.name, strnlen(e.name, sizeof e.name));
    out.flash_base = e.flash_base;
    out.mem_base = e.mem_base;
    out.size = e.size;
    out.entry_point = e.entry_point;
    out.data_length = e.data_length;
    out.desc_cksum = e.desc_cksum;
    out.file_cksum = e.file_cksum;
    return out;
}

bool write_fis(int index, const std::vector<FisEntry> &entries)
{
    auto w = window(index);
    if (!w || static_cast<uint64_t>(entries.size()) * 256 > w->size)
        return false;
    std::vector<uint8_t> bytes(w->size, 0xFF);
    for (size_t i = 0; i < entries.size(); ++i) {
        auto packed = fis_pack(entries[i]);
        std::copy(packed.begin(), packed.end(), bytes.begin() + static_cast<long>(i * 256));
    }
    return fill_window(index, 0, bytes);
}

std::vector<FisEntry> read_fis(int index)
{
    std::vector<FisEntry> out;
    auto bytes = read_window(index);
    for (size_t off = 0; off + 256 <= bytes.size() && bytes[off] != 0xFF; off += 256)
        out.push_back(*fis_unpack(&bytes[off], 256));
    return out;
}

}  // namespace korvsim::ctl
