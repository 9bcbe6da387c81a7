// The flash's binary records, packed and unpacked field by field in the device's little-endian
// words whatever the host: the 256-byte RedBoot flash-directory entry and the 32-byte MTD
// information record of MEMGETINFO. The library's flash functions, the updater and the
// simulator's control tool all go through these.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "korv/mtd.h"
#include "korv_le32.h"

namespace korv::flash {

constexpr size_t kFisEntrySize = KORV_MTD_FIS_ENTRY_SIZE;
constexpr size_t kMtdInfoSize = KORV_MTD_INFO_SIZE;

// Byte offsets of the directory entry's fields.
enum FisField : size_t {
    kFisName = 0,
    kFisFlashBase = 16,
    kFisMemBase = 20,
    kFisSize = 24,
    kFisEntryPoint = 28,
    kFisDataLength = 32,
    kFisPadding = 36,
    kFisDescCksum = 248,
    kFisFileCksum = 252,
};

// A free directory slot begins with an erased byte.
inline bool FisEntryFree(const uint8_t *raw)
{
    return raw[0] == 0xFF;
}

inline KORVMTDFISENTRY UnpackFisEntry(const uint8_t *raw)
{
    KORVMTDFISENTRY e;
    memcpy(e.name, raw + kFisName, sizeof e.name);
    e.flash_base = Le32Get(raw + kFisFlashBase);
    e.mem_base = Le32Get(raw + kFisMemBase);
    e.size = Le32Get(raw + kFisSize);
    e.entry_point = Le32Get(raw + kFisEntryPoint);
    e.data_length = Le32Get(raw + kFisDataLength);
    memcpy(e.padding, raw + kFisPadding, sizeof e.padding);
    e.desc_cksum = Le32Get(raw + kFisDescCksum);
    e.file_cksum = Le32Get(raw + kFisFileCksum);
    return e;
}

// All 256 bytes are written: the name as given (NUL-padded by its builder), the padding carried.
inline void PackFisEntry(const KORVMTDFISENTRY &e, uint8_t *raw)
{
    memcpy(raw + kFisName, e.name, sizeof e.name);
    Le32Put(raw + kFisFlashBase, e.flash_base);
    Le32Put(raw + kFisMemBase, e.mem_base);
    Le32Put(raw + kFisSize, e.size);
    Le32Put(raw + kFisEntryPoint, e.entry_point);
    Le32Put(raw + kFisDataLength, e.data_length);
    memcpy(raw + kFisPadding, e.padding, sizeof e.padding);
    Le32Put(raw + kFisDescCksum, e.desc_cksum);
    Le32Put(raw + kFisFileCksum, e.file_cksum);
}

// MEMGETINFO's record: type, flags, size, erase size, write size, OOB size, 8 bytes reserved.
struct MtdInfo {
    uint8_t type = 0;
    uint32_t flags = 0;
    uint32_t size = 0;
    uint32_t erase_size = 0;
    uint32_t write_size = 0;
    uint32_t oob_size = 0;
};

enum MtdInfoField : size_t {
    kInfoType = 0,
    kInfoFlags = 4,
    kInfoSize = 8,
    kInfoEraseSize = 12,
    kInfoWriteSize = 16,
    kInfoOobSize = 20,
};

inline MtdInfo UnpackMtdInfo(const uint8_t *raw)
{
    MtdInfo info;
    info.type = raw[kInfoType];
    info.flags = Le32Get(raw + kInfoFlags);
    info.size = Le32Get(raw + kInfoSize);
    info.erase_size = Le32Get(raw + kInfoEraseSize);
    info.write_size = Le32Get(raw + kInfoWriteSize);
    info.oob_size = Le32Get(raw + kInfoOobSize);
    return info;
}

// All 32 bytes are written; the padding between the type and the flags and the reserved tail are 0.
inline void PackMtdInfo(const MtdInfo &info, uint8_t *raw)
{
    memset(raw, 0, kMtdInfoSize);
    raw[kInfoType] = info.type;
    Le32Put(raw + kInfoFlags, info.flags);
    Le32Put(raw + kInfoSize, info.size);
    Le32Put(raw + kInfoEraseSize, info.erase_size);
    Le32Put(raw + kInfoWriteSize, info.write_size);
    Le32Put(raw + kInfoOobSize, info.oob_size);
}

}  // namespace korv::flash
