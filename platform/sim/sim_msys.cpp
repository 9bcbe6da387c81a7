// The MSys flash's own requests on "/dev/mtd0": the partition table, the format and the new
// partitioning.
#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "korv/platform.h"
#include "sim_devices.h"

namespace korvsim {

int msys_request(Flash &flash, int index, unsigned long request, void *arg, std::string *args)
{
    if (flash.kind != ChipKind::MSys || index != 0)
        return ENOTTY;
    if (request == KORV_MSYS_GET_TABLE) {
        uint8_t table[64] = {};
        for (int i = 0; i < kMSysPartitions; ++i) {
            auto it = flash.windows.find(i);
            if (it == flash.windows.end())
                continue;
            put_u32(table, 8 * i, static_cast<uint32_t>(it->second.size));
            put_u32(table, 8 * i + 4, static_cast<uint32_t>(it->second.data_length));
        }
        memcpy(arg, table, sizeof table);
        return 0;
    }
    if (request == KORV_MSYS_FORMAT) {
        uintptr_t units = reinterpret_cast<uintptr_t>(arg);
        *args = "units=" + std::to_string(units);
        if (units != kMSysUnits)
            return EINVAL;
        flash.msys_prepared = true;
        return 0;
    }
    // KORV_MSYS_PARTITION
    uint32_t counts[kMSysPartitions];
    uint64_t total = 0;
    for (int i = 0; i < kMSysPartitions; ++i) {
        counts[i] = get_u32(arg, 4 * static_cast<size_t>(i));
        total += counts[i];
        *args += (i ? "," : "units=") + std::to_string(counts[i]);
    }
    if (!flash.msys_prepared)
        return EPERM;
    if (total > kMSysUnits || total * kMSysUnit > flash.chip_size ||
        std::find(counts, counts + kMSysPartitions, 0u) != counts + kMSysPartitions)
        return EINVAL;
    uint64_t base = flash.chip_base;
    for (int i = 0; i < kMSysPartitions; ++i) {
        Window w;
        w.base = base;
        w.size = static_cast<uint64_t>(counts[i]) * kMSysUnit;
        flash.windows[i] = w;
        base += w.size;
    }
    flash.msys_prepared = false;
    chip_change(flash, 0, total * kMSysUnit, Program::Fill, nullptr, 0xFF, kNoMirrors);
    for (int i = 0; i < kMSysPartitions; ++i)
        mirror_export(flash, i);
    return 0;
}

}  // namespace korvsim
