// What the share functions share: the store's description, the record's layout in memory against
// the device's, the builder's and the dump's steps, and owners for walks over the database.
#pragma once

#include <stddef.h>

#include <string>

#include "korv/hash.h"
#include "korv/list.h"
#include "korv/share.h"
#include "korv_records.h"
#include "korv_store_set.h"
#include "korv_upper_key.h"

namespace korv::share {

extern const korv::bdb::SetSpec kShareSet;

// Share keys are formed in a buffer of this size, their NUL included.
constexpr size_t kKeySize = 492;

// The device lays a record out as a header of eleven 32-bit words and the strings; the figures
// of a record (cbAlloc, cbRecord, the stored offsets) are the device's on every build. In memory
// the header is this build's KORVSHARE, followed by the same strings.
constexpr int kDeviceHeader = 44;
// Offsets of the stored form.
constexpr int kStoredHeader = 48;
constexpr int kStoredLengthAt = 40;
constexpr int kStoredRecordAt = 44;

// Bytes of memory for a block of deviceBytes.
inline size_t HostBytes(int deviceBytes)
{
    return static_cast<size_t>(deviceBytes) - kDeviceHeader + sizeof(KORVSHARE);
}
// Where the device offset (from the block start, at least 44) lies in a record's memory.
inline char *HostAt(KORVSHARE *share, int deviceOffset)
{
    return reinterpret_cast<char *>(share + 1) + (deviceOffset - kDeviceHeader);
}
inline const char *HostAt(const KORVSHARE *share, int deviceOffset)
{
    return reinterpret_cast<const char *>(share + 1) + (deviceOffset - kDeviceHeader);
}

// The six string fields in their stored order (name first).
inline char **Field(KORVSHARE *share, int i)
{
    char **fields[] = {&share->szName,         &share->szComment,   &share->szPath,
                       &share->szInvalidUsers, &share->szWriteList, &share->szReadList};
    return fields[i];
}
inline const char *Field(const KORVSHARE *share, int i)
{
    return *Field(const_cast<KORVSHARE *>(share), i);
}

// The upper-cased key of a share name (without its NUL): 0, or -1 (0x0D00 when it does not fit).
inline int ShareKey(const char *name, std::string &key)
{
    return korv::UpperKey(name, key, kKeySize);
}

// A stored form checked and unpacked into *share: len is the value's byte count, or -1 when the
// caller does not know it. 0, or -1 (0x4000 for a damaged record).
int UnpackChecked(const void *stored, int len, KORVSHARE **share);

// The three user lists' texts in smb.conf and the two permission keys.
int ShareFTypeGetFromConf(const char *guestOk, const char *writeable);
int ShareFTypeSetToConf(int fType, char *guestOk, char *writeable, int guestOkSize, int writeableSize);
// Collapses equal names of a "," separated list, in place, in the hash's slot order: 1, 0 for an
// empty list, -1.
int RemoveSameUsers(char *szUserList);

// The builder's steps.
KORVSHARE *ShareAllocFromConf(const char *sectionName, PKORLSZHASH keys);
int ShareDBSetOne(KORVSHAREDB *db, PKORLSZLIST lines, PKORLSZHASH keys, const char *sectionName, int iSecType);
void ShareDBResetSection(PKORLSZLIST lines, PKORLSZHASH keys, int iSecType);

// The enumeration's filter by kind.
int ShareEnumFilter(const KORVSHAREENUMCB *callbacks, const KORVSHARE *share, int kindMask);

}  // namespace korv::share
