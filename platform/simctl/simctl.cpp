// Control of the simulated kernel: chip and windows, kernel settings, faults and the request log.
#include "korv/simctl.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "sim_state.h"

namespace korvsim::ctl {

namespace {

WindowInfo info_of(int index, const Window &w)
{
    return WindowInfo{index, static_cast<uint32_t>(w.base), static_cast<uint32_t>(w.size), w.locked,
                      static_cast<uint32_t>(w.data_length)};
}

void kernel_set(const std::string &key, const std::string &value)
{
    StateLock lock;
    Conf kernel = kernel_load();
    kernel[key] = value;
    kernel_save(kernel);
}

void kernel_erase(const std::string &key)
{
    StateLock lock;
    Conf kernel = kernel_load();
    kernel.erase(key);
    kernel_save(kernel);
}

Fault new_fault(const char *kind, const std::string &device, bool once)
{
    Fault f;
    f.kind = kind;
    f.device = device;
    f.once = once;
    return f;
}

void fault_add(const Fault &f)
{
    StateLock lock;
    auto faults = faults_load();
    faults.push_back(f);
    faults_save(faults);
}

// Touches a device node of the tree so that opening it works.
void ensure_node(const std::string &path)
{
    mkdir("/dev", 0755);
    if (access(path.c_str(), F_OK) != 0) {
        FILE *f = fopen(path.c_str(), "w");
        if (f)
            fclose(f);
    }
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
    if (!bytes.empty()) {
        if (!chip_write(at, bytes.data(), bytes.size()))
            return false;
        mirrors_update(flash, at, bytes.size());
    }
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
    std::vector<uint8_t> bytes(256, 0);
    memcpy(bytes.data(), entry.name.data(), std::min<size_t>(entry.name.size(), 16));
    Le32Put(&bytes[16], entry.flash_base);
    Le32Put(&bytes[20], entry.mem_base);
    Le32Put(&bytes[24], entry.size);
    Le32Put(&bytes[28], entry.entry_point);
    Le32Put(&bytes[32], entry.data_length);
    Le32Put(&bytes[248], entry.desc_cksum);
    Le32Put(&bytes[252], entry.file_cksum);
    return bytes;
}

std::optional<FisEntry> fis_unpack(const uint8_t *bytes, size_t size)
{
    if (!bytes || size < 256)
        return std::nullopt;
    FisEntry e;
    e.name.assign(reinterpret_cast<const char *>(bytes), strnlen(reinterpret_cast<const char *>(bytes), 16));
    e.flash_base = Le32Get(bytes + 16);
    e.mem_base = Le32Get(bytes + 20);
    e.size = Le32Get(bytes + 24);
    e.entry_point = Le32Get(bytes + 28);
    e.data_length = Le32Get(bytes + 32);
    e.desc_cksum = Le32Get(bytes + 248);
    e.file_cksum = Le32Get(bytes + 252);
    return e;
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

void set_flag_word(std::optional<uint32_t> word)
{
    StateLock lock;
    Conf kernel = kernel_load();
    kernel["syscall401"] = word ? "present" : "absent";
    if (word)
        kernel["flag_word"] = hex32(*word);
    else
        kernel.erase("flag_word");
    kernel_save(kernel);
}

void set_syscall405(int err)
{
    kernel_set("syscall405", err ? errno_name(err) : "0");
}

void set_uptime(long seconds)
{
    kernel_set("uptime", std::to_string(seconds));
}

std::string driver_buffer_state()
{
    StateLock lock;
    Conf kernel = kernel_load();
    auto it = kernel.find("driver_buffer");
    return it == kernel.end() ? "" : it->second;
}

void set_md_array(int md, const std::vector<int32_t> &words)
{
    std::string text;
    for (size_t i = 0; i < words.size() && i < 18; ++i)
        text += (i ? "," : "") + std::to_string(words[i]);
    kernel_set("md" + std::to_string(md) + ".array", text);
    ensure_node("/dev/md" + std::to_string(md));
}

void remove_md_array(int md)
{
    kernel_erase("md" + std::to_string(md) + ".array");
}

void set_md_size(int md, uint64_t bytes)
{
    kernel_set("md" + std::to_string(md) + ".size", std::to_string(bytes));
    ensure_node("/dev/md" + std::to_string(md));
}

void set_md_rebuild(int md, uint32_t due, uint32_t done, uint32_t total)
{
    kernel_set("md" + std::to_string(md) + ".rebuild",
               std::to_string(due) + "," + std::to_string(done) + "," + std::to_string(total));
    ensure_node("/dev/md" + std::to_string(md));
}

void fail_request(const std::string &device, const std::string &request, int err, bool once)
{
    Fault f = new_fault("fail", device, once);
    f.request = request;
    f.err = err;
    fault_add(f);
}

void corrupt_read(const std::string &device, uint64_t offset, uint8_t mask, bool once)
{
    Fault f = new_fault("corrupt", device, once);
    f.offset = offset;
    f.mask = mask;
    fault_add(f);
}

void short_write(const std::string &device, uint64_t bytes, int err, bool once)
{
    Fault f = new_fault("shortwrite", device, once);
    f.offset = bytes;
    f.err = err;
    fault_add(f);
}

void clear_faults()
{
    StateLock lock;
    unlink(kFaultsConf);
}

std::vector<Request> requests()
{
    StateLock lock;
    std::vector<Request> out;
    std::string text;
    if (!read_whole(kRequestsLog, &text))
        return out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // device name args -> result [errno]; only the arguments may hold blanks (entry names).
        size_t arrow = line.rfind(" -> ");
        size_t sp1 = line.find(' ');
        size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
        if (arrow == std::string::npos || sp2 == std::string::npos || sp2 > arrow)
            continue;
        Request r;
        r.device = line.substr(0, sp1);
        r.name = line.substr(sp1 + 1, sp2 - sp1 - 1);
        r.args = line.substr(sp2 + 1, arrow - sp2 - 1);
        if (r.args == "-")
            r.args.clear();
        std::istringstream tail(line.substr(arrow + 4));
        std::string result, err;
        tail >> result;
        parse_int(result, &r.result);
        if (tail >> err)
            r.err = errno_parse(err);
        r.line = line;
        out.push_back(r);
    }
    return out;
}

std::vector<Request> requests(const std::string &device, const std::string &name)
{
    std::vector<Request> out;
    for (auto &r : requests())
        if ((device.empty() || r.device == device) && (name.empty() || r.name == name))
            out.push_back(r);
    return out;
}

void clear_requests()
{
    StateLock lock;
    unlink(kRequestsLog);
}

}  // namespace korvsim::ctl
