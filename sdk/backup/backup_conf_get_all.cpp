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
        size_t len = 0;
        char *line = lines.Text(&len);
        if (KORLFileIsSection(lines.data(), static_cast<int>(len))) {
            if (Close(sets, name, keys.get()) < 0)
                return -1;
            if (KORVShareParseSectionName(line, name, sizeof name) < 0)
                return -1;
            KORLSzHashClear(keys.get());
            continue;
        }
        if (!*name)
            continue;
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
