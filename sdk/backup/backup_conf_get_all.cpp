#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "backup_internal.h"
#include "korv/backup.h"
#include "korv/file.h"
#include "korv/share.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "korv_unique.h"

using namespace korv::backup;

namespace {

// The records read so far, freed unless the read succeeds.
struct SetArray {
    void **items = nullptr;
    int size = 0;
    int used = 0;
    int kind = 0;
    ~SetArray()
    {
        if (items && used > 0)
            KORVBackupConfFreeAll(items, used, kind);
        else
            free(items);
    }
};

// Builds the record of the open section into the next entry: 0, or -1.
int Close(SetArray &sets, const char *name, PKORLSZHASH keys)
{
    if (!*name)
        return 0;
    if (sets.used >= sets.size) {
        KORV_LOG("iCount [%d] >= cBkpset [%d].", sets.used, sets.size);
        return -1;
    }
    void *record = sets.kind == BACKUP_TYPE_NETBKP ? static_cast<void *>(KORVNetBkpConfAlloc(name, keys))
                                                   : static_cast<void *>(KORVLocalBkpConfAlloc(name, keys));
    if (!record) {
        KORV_LOG("%s() failed!! szCurSetName=[%s], idx=[%d], errno=[0x%04X]",
                 sets.kind == BACKUP_TYPE_NETBKP ? "KORVNetBkpConfAlloc" : "KORVLocalBkpConfAlloc", name, sets.used,
                 KORLErrGet());
        return -1;
    }
    sets.items[sets.used++] = record;
    return 0;
}

}  // namespace

extern "C" int KORVBackupConfGetAll(void ***parray, int kind)
{
    if (!parray) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    *parray = nullptr;
    SetArray sets;
    sets.kind = kind == BACKUP_TYPE_NETBKP ? BACKUP_TYPE_NETBKP : BACKUP_TYPE_LOCALBKP;
    const char *file = sets.kind == BACKUP_TYPE_NETBKP ? KORV_NETBKP_CONF : KORV_LOCALBKP_CONF;

    int count = KORVBackupConfSectionCount(file);
    if (count < 0) {
        KORV_LOG("KORVBackupConfSectionCount() failed!! errno=[0x%04X]", KORLErrGet());
        return -1;
    }
    if (count == 0)
        return 0;

    sets.items = static_cast<void **>(calloc(static_cast<size_t>(count), sizeof(void *)));
    sets.size = count;
    korv::ListHolder pair(PslKORLSzListAlloc(512));
    korv::HashHolder keys(PshKORLSzHashAlloc(kKeyHashSize));
    if (!sets.items || !pair || !keys) {
        KORV_LOG("out of memory!!");
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    korv::UniqueFile fp(fopen(file, "r"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }

    char name[kSectionNameSize] = "";
    korv::LineReader lines(fp.get());
    while (lines.Next()) {
        // Headers are told by the whole line, as the count and the section writers tell them, and
        // any line that begins with "[" ends the open set.
        const int whole = static_cast<int>(lines.size());
        if (lines.data()[0] == '[') {
            if (Close(sets, name, keys.get()) < 0)
                return -1;
            name[0] = '\0';
            KORLSzHashClear(keys.get());
            if (!KORLFileIsSection(lines.data(), whole))
                continue;
            if (KORVShareParseSectionName(lines.data(), name, sizeof name) < 0)
                return -1;
            // A header that the writers would not find under the name read (NUL bytes in it, a
            // name cut short) gives no set: its rewrite would add a second one.
            if (KORLFileMatchSection(lines.data(), whole, name) != 1)
                name[0] = '\0';
            continue;
        }
        if (!*name)
            continue;
        size_t len = 0;
        char *line = lines.Text(&len);
        if (KORLStrTrimSpace(line, nullptr) < 0) {
            KORV_LOG("KORLStrTrimSpace() failed! szInput[%s], errno=[0x%04X]", line, KORLErrGet());
            return -1;
        }
        if (!*line)
            continue;
        KORLSzListRemoveAll(pair.get());
        if (KORLStrSepPair(line, pair.addr()) != 0) {
            KORV_LOG("KORLStrSepPair [%s] failed!! errno=[0x%04X]", line, KORLErrGet());
            continue;
        }
        if (KORLSzHashSetValue(keys.addr(), SzKORLSzListGet(pair.get(), 0), SzKORLSzListGet(pair.get(), 1)) < 0) {
            KORV_LOG("KORLSzHashSetValue() failed. errno=[0x%04X]", KORLErrGet());
            return -1;
        }
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    if (Close(sets, name, keys.get()) < 0)
        return -1;
    if (sets.used == 0)
        return 0;  // only sections without a name
    *parray = sets.items;
    sets.items = nullptr;
    return sets.used;
}
