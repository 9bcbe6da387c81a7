// Control of the simulated flash: the chip, its windows and their bytes, RedBoot directories.
#include <string.h>

#include <algorithm>

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

bool create_chip(Kind kind, uint64_t size, uint32_t erase_size, uint32_t base, uint8_t fill)
{
    StateLock lock;
    Flash old = flash_load();
    for (const auto &[index, w] : old.windows)
        mirror_remove(index);
    Flash flash;
    flash.present = true;
    flash.kind = kind == Kind::MSys ? ChipKind::MSys : ChipKind::Nor;
    if (flash.kind == ChipKind::MSys) {
        base = 0;
        if (size == 0)
            size = static_cast<uint64_t>(kMSysUnits) * kMSysUnit;
        erase_size = kMSysUnit;
    }
    if (size == 0 || erase_size == 0 || size % erase_size != 0 || base + size > (1ull << 32))
        return false;
    flash.chip_base = base;
    flash.chip_size = size;
    flash.erase_size = erase_size;
    return chip_create(size, fill) && flash_save(flash);
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
    mirrors_sync();
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
