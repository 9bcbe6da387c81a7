// The id store beside an account name store: its keys, its records and its next-id marker.
#include <errno.h>
#include <stdio_ext.h>
#include <stdlib.h>
#include <string.h>

#include "korv_account_store.h"
#include "korv_bdb.h"
#include "korv_fields.h"
#include "korv_internal.h"
#include "korv_log_at.h"
#include "korv_rewrite.h"
#include "korv_store_set.h"
#include "korv_upper_key.h"
#include "korv_unique.h"

namespace korv::bdb {

std::string IdKey(int id)
{
    // A build forms one per account: the usual six digits without the formatter.
    if (id >= 0 && id < 1000000) {
        std::string key(6, '0');
        for (int i = 5; id > 0; i--, id /= 10)
            key[static_cast<size_t>(i)] = static_cast<char>('0' + id % 10);
        return key;
    }
    char buf[16];
    snprintf(buf, sizeof buf, "%06d", id);
    return buf;
}

int AccountExists(KORVBDB *names, const char *key, int keyLen, char *storedName, int cbStoredName, int notFound,
                  std::source_location loc)
{
    if (!names || !key || keyLen < 0 || (!storedName && cbStoredName != 0)) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return 0;
    }
    const void *data;
    int len;
    int r = Lookup(names, key, keyLen + 1, &data, &len);
    if (r != 0) {
        if (r > 0)
            ErrAt(notFound, loc);
        return 0;
    }
    if (!storedName)
        return 1;
    const char *line = static_cast<const char *>(data);
    for (int i = 0; i < cbStoredName; i++) {
        if (i >= len || line[i] == '\0') {
            storedName[0] = '\0';
            ErrAt(KORL_ERR_MALFORMED, loc);
            return 0;
        }
        if (line[i] == ':') {
            storedName[i] = '\0';
            return 1;
        }
        storedName[i] = line[i];
    }
    // The name does not fit: nothing half-copied is left behind.
    if (cbStoredName > 0)
        storedName[0] = '\0';
    return 0;
}

int IdField(const char *line)
{
    std::string_view f[3];
    return AccountFields(line, 3, f, FieldCount::AtLeast) ? FieldInt(f[2]) : -1;
}

int StoreAccount(KORVBDB *names, KORVBDB *ids, const std::string &key, const char *line, size_t len, int id)
{
    int keyLen = static_cast<int>(key.size()) + 1;
    int r = PutNew(names, key.c_str(), keyLen, line, static_cast<int>(len) + 1);
    if (r < 0)
        return -1;
    if (r == 1) {
        const char *before;
        if (LookupLine(names, key, &before) != 0)
            return -1;
        std::string old = IdKey(IdField(before));
        if (DeleteValue(ids, old.c_str(), static_cast<int>(old.size()) + 1, key.c_str(), keyLen) < 0 ||
            StoreLine(names, key, line, len) != 0)
            return -1;
    }
    std::string idKey = IdKey(id);
    return KORVBDbSet(ids, idKey.c_str(), static_cast<int>(idKey.size()) + 1, key.c_str(), keyLen);
}

AccountLoad::AccountLoad(KORVBDB *names, KORVBDB *ids) : names_(names), ids_(ids), fresh_(BuildingNewSet()) {}

namespace {

// FNV-1a over the key's bytes, folded to 32 bits and never 0 (the empty slot).
uint32_t KeyHash(const std::string &key)
{
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : key) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    uint32_t v = static_cast<uint32_t>(h ^ (h >> 32));
    return v ? v : 1;
}

void Enter(std::vector<uint32_t> &slots, uint32_t v)
{
    size_t mask = slots.size() - 1;
    size_t i = v & mask;
    while (slots[i] != 0)
        i = (i + 1) & mask;
    slots[i] = v;
}

}  // namespace

bool AccountLoad::FirstMeeting(const std::string &key)
{
    uint32_t v = KeyHash(key);
    if (slots_.empty())
        slots_.assign(1024, 0);
    size_t mask = slots_.size() - 1;
    for (size_t i = v & mask; slots_[i] != 0; i = (i + 1) & mask) {
        if (slots_[i] == v)
            return false;
    }
    if (2 * (used_ + 1) > slots_.size()) {
        std::vector<uint32_t> bigger(2 * slots_.size(), 0);
        for (uint32_t s : slots_) {
            if (s != 0)
                Enter(bigger, s);
        }
        slots_.swap(bigger);
    }
    Enter(slots_, v);
    used_++;
    return true;
}

int AccountLoad::Store(const std::string &key, const char *line, size_t len, int id)
{
    if (!fresh_ || !FirstMeeting(key))
        return StoreAccount(names_, ids_, key, line, len, id);
    if (StoreLine(names_, key, line, len) != 0)
        return -1;
    std::string idKey = IdKey(id);
    return KORVBDbSet(ids_, idKey.c_str(), static_cast<int>(idKey.size()) + 1, key.c_str(),
                      static_cast<int>(key.size()) + 1);
}

namespace {

constexpr size_t kAccountFileBlock = 32 * 1024;

}  // namespace

AccountFile::AccountFile(const char *path) : fp_(fopen(path, "re"))
{
    if (!fp_)
        return;
    __fsetlocking(fp_, FSETLOCKING_BYCALLER);
    // Without the block, stdio's own buffer serves.
    buf_ = static_cast<char *>(malloc(kAccountFileBlock));
    if (buf_ && setvbuf(fp_, buf_, _IOFBF, kAccountFileBlock) != 0) {
        free(buf_);
        buf_ = nullptr;
    }
}

AccountFile::~AccountFile()
{
    if (fp_)
        fclose(fp_);
    free(buf_);
}

int ForEachAccountLine(FILE *fp, const char *readFailure, const std::function<int(char *line, size_t len)> &visit,
                       std::source_location loc)
{
    LineReader lr(fp);
    while (lr.Next()) {
        if (lr.data()[0] == '#')
            continue;
        size_t len;
        char *line = lr.Text(&len);
        if (visit(line, len) != 0)
            return -1;
    }
    if (lr.Failed()) {
        LogAt(LOG_ERR, loc, "%s errno=%d/%m", readFailure, errno);
        ErrAt(KORL_ERR_READ, loc);
        return -1;
    }
    return 0;
}

int KeyedLineBuild(KORVBDB *store, const KeyedLines &file, std::source_location loc)
{
    if (!store || !file.path || !file.delimiters) {
        ErrAt(KORL_ERR_BAD_PARAM, loc);
        return -1;
    }
    AccountFile fp(file.path);
    if (!fp) {
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    std::string key;
    return ForEachAccountLine(
        fp.get(), "Fail to read the end of the file.",
        [&](char *line, size_t len) {
            char *cut = line + strcspn(line, file.delimiters);
            if (!*cut || (cut == line && file.emptyKeyIsFormatError)) {
                LogAt(LOG_ERR, loc, "%s format error, %s = %s", file.path, file.what, line);
                return 0;
            }
            char saved = *cut;
            *cut = '\0';
            int r = UpperKey(line, key, file.keySize);
            if (r != 0) {
                if (file.upperFailedWithStr)
                    LogAt(LOG_ERR, loc, "%s, str=%s.", file.upperFailed, line);
                else
                    LogAt(LOG_ERR, loc, "%s [%s]", file.upperFailed, line);
            }
            *cut = saved;
            if (r != 0)
                return 0;
            if (StoreLine(store, key, line, len) != 0) {
                if (file.logStoreFailure)
                    LogAt(LOG_ERR, loc, "KORVBDbSet() failed! korverr=0x%04X", KORLErrGet());
                return -1;
            }
            return 0;
        },
        loc);
}

int LastId(KORVBDB *ids, int *id)
{
    if (KORVBDbCursorSetType(ids, KORV_BDB_CURSOR_LAST) != 0)
        return -1;
    CursorBuffers c;
    int r = KORVBDbCursorGet(ids, 1, &c.key, &c.cbKey, &c.value, &c.cbValue);
    // Read within the key's own bytes: a damaged store may hold one without its NUL.
    if (r == 0)
        *id = atoi(std::string(static_cast<const char *>(c.key), static_cast<size_t>(c.cbKey)).c_str());
    return r;
}

int NextIdBuild(KORVBDB *ids, FILE *fp, const char *indexName, long first, long last, const char *marker,
                std::source_location loc)
{
    char index[32];
    snprintf(index, sizeof index, "#$%s$", indexName);
    size_t indexLen = strlen(index);
    long n = -1;
    LineReader lr(fp);
    while (lr.Next()) {
        size_t len;
        char *hash = strchr(lr.Text(&len), '#');
        if (!hash || strncmp(hash, index, indexLen) != 0)
            continue;
        char *end;
        n = strtol(hash + indexLen, &end, 10);
        if (*end == '$')
            break;
    }
    if (n < first || n > last) {
        int highest;
        if (LastId(ids, &highest) != 0) {
            ErrAt(KORL_ERR_BDB_READ, loc);
            return -1;
        }
        n = highest;
    }
    if (MarkerSet(ids, marker, KORV_BDB_KEY_CURRENT_ID_LEN, static_cast<int32_t>(n)) != 0) {
        ErrAt(KORL_ERR_BDB_WRITE, loc);
        return -1;
    }
    return 0;
}

int FreeId(KORVBDB *ids, const char *marker, int first, int last, int noFree, std::source_location loc)
{
    int32_t current;
    long next;
    if (MarkerGet(ids, marker, KORV_BDB_KEY_CURRENT_ID_LEN, &current) == 0) {
        next = static_cast<long>(current) + 1;
    } else if (KORLErrGet() == KORL_ERR_NOT_FOUND) {
        int highest;
        if (LastId(ids, &highest) != 0)
            return -1;
        next = static_cast<long>(highest) + 1;
    } else {
        ErrAt(KORL_ERR_BDB_READ, loc);
        return -1;
    }
    int start = next >= first + 1 && next <= last ? static_cast<int>(next) : first;
    int id = start;
    do {
        std::string key = IdKey(id);
        const void *data;
        int len;
        int r = Lookup(ids, key.c_str(), static_cast<int>(key.size()) + 1, &data, &len);
        if (r < 0)
            return -1;
        if (r > 0)
            return id;
        id = id == last ? first : id + 1;
    } while (id != start);
    ErrAt(noFree, loc);
    return -1;
}

}  // namespace korv::bdb
