// The one writer of a backup set, over the section writers; shared by both kinds.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "backup_internal.h"
#include "korv/error.h"
#include "korv/file.h"
#include "korv_log_at.h"
#include "korv_rewrite.h"
#include "korv_sz_holders.h"
#include "korv_unique.h"

namespace korv::backup {

namespace {

// Whether file holds a header of the section name: 1, 0, or -1 (0x0900, 0x0A00).
int HasSection(const char *file, const char *name, const std::source_location &loc)
{
    UniqueFile fp(fopen(file, "r"));
    if (!fp) {
        if (errno == ENOENT)
            return 0;
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    LineReader lines(fp.get());
    while (lines.Next()) {
        if (KORLFileMatchSection(lines.data(), static_cast<int>(lines.size()), name) == 1)
            return 1;
    }
    if (lines.Failed()) {
        ErrAt(KORL_ERR_READ, loc);
        return -1;
    }
    return 0;
}

// An empty set file; it will hold server passwords, so only its owner may read it.
int CreateSetFile(const char *file, const std::source_location &loc)
{
    struct stat st;
    if (stat(file, &st) == 0)
        return 0;
    if (errno != ENOENT) {
        LogAt(LOG_ERR, loc, "Failed to stat file [%s], errno=[%d/%m]", file, errno);
        ErrAt(KORL_ERR_STAT, loc);
        return -1;
    }
    UniqueFd fd(open(file, O_RDWR | O_CREAT | O_EXCL | O_TRUNC | O_SYNC, 0600));
    // Made by another writer since the stat: the add appends to it as to any existing file.
    if (!fd && errno == EEXIST)
        return 0;
    if (!fd) {
        LogAt(LOG_ERR, loc, "Failed to open file [%s], errno=[%d/%m]", file, errno);
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    return 0;
}

// A key that begins with a quote cannot stand in a key line of the set format: the reader takes
// its quote and the value's closing one for a pair around the whole line, and the line would read
// back as another key. Such a line names no field of a set; the rewrite leaves it out.
int DropQuotedKeys(PKORLSZHASH keys, const std::source_location &loc)
{
    ListHolder names(PslKORLSzListAlloc(512));
    if (!names || KORLSzHashEnumKey(keys, names.addr()) < 0) {
        ErrAt(KORL_ERR_NO_MEMORY, loc);
        return -1;
    }
    for (int i = 0; i < names.get()->nItem; ++i) {
        const char *key = SzKORLSzListGet(names.get(), i);
        if (key && key[0] == '"')
            SzKORLSzHashRemoveKey(keys, key);
    }
    return 0;
}

}  // namespace

int WriteSet(const char *file, const char *oldName, const char *newName, const void *record, FillKeys fill,
             std::source_location loc)
{
    HashHolder keys(PshKORLSzHashAlloc(kKeyHashSize));
    if (!keys) {
        ErrAt(KORL_ERR_NO_MEMORY, loc);
        return -1;
    }
    bool update = false;
    if (oldName && *oldName) {
        int n = KORLFileGetSection(file, oldName, keys.addr());
        if (n < 0)
            return -1;
        update = n > 0;
        if (update && DropQuotedKeys(keys.get(), loc) < 0)
            return -1;
    }
    if (fill(record, keys.addr()) < 0)
        return -1;

    if (!update) {
        if (CreateSetFile(file, loc) < 0)
            return -1;
        if (ErrKORLFileAddSection(file, newName, keys.get(), kSetKeyFormat) > 0)
            return 0;
        LogAt(LOG_ERR, loc, "ErrKORLFileAddSection() failed!! szFile=[%s], section=[%s], errno=[0x%04X]", file,
              newName ? newName : "", KORLErrGet());
        return -1;
    }
    // A rename must not make two sets of one name: readers would see one of them only.
    if (!newName || strcmp(newName, oldName) != 0) {
        int exists = newName ? HasSection(file, newName, loc) : 0;
        if (exists != 0) {
            if (exists > 0)
                ErrAt(KORL_ERR_BAD_PARAM, loc);
            LogAt(LOG_ERR, loc,
                  "ErrKORLFileSetSection() failed!! szFile=[%s], old_section=[%s], new_section=[%s], errno=[0x%04X]",
                  file, oldName, newName, KORLErrGet());
            return -1;
        }
    }
    if (ErrKORLFileSetSection(file, oldName, newName, keys.get(), kSetKeyFormat) < 0) {
        LogAt(LOG_ERR, loc,
              "ErrKORLFileSetSection() failed!! szFile=[%s], old_section=[%s], new_section=[%s], errno=[0x%04X]", file,
              oldName, newName ? newName : "", KORLErrGet());
        return -1;
    }
    return 0;
}

int PutText(PKORLSZHASH *phash, const char *key, const char *value)
{
    if (!value)
        return 0;
    return KORLSzHashSetValue(phash, key, value) < 0 ? -1 : 0;
}

int PutInt(PKORLSZHASH *phash, const char *key, int value)
{
    char text[32];
    snprintf(text, sizeof text, "%d", value);
    return KORLSzHashSetValue(phash, key, text) < 0 ? -1 : 0;
}

int CopyTexts(void *record, char *&section, const char *name, PKORLSZHASH keys, const TextField *fields,
              size_t count, std::source_location loc)
{
    section = strdup(name);
    if (!section) {
        ErrAt(KORL_ERR_NO_MEMORY, loc);
        return -1;
    }
    for (size_t i = 0; i < count; ++i) {
        const char *value = SzKORLSzHashGetValue(keys, fields[i].key);
        char *copy = strdup(value ? value : "");
        if (!copy) {
            ErrAt(KORL_ERR_NO_MEMORY, loc);
            return -1;
        }
        TextAt(record, fields[i].offset) = copy;
    }
    return 0;
}

void FreeTexts(void *record, char *&section, const TextField *fields, size_t count)
{
    if (!record)
        return;
    for (size_t i = 0; i < count; ++i)
        free(TextAt(record, fields[i].offset));
    free(section);
    free(record);
}

bool RsyncNameFits(const char *name)
{
    return name && strlen(name) <= KORV_RSYNC_NAME_MAX;
}

}  // namespace korv::backup
