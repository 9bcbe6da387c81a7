// Setting and deleting many keys in one rewrite, from two hashes.
#include <string.h>
#include <unistd.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv/string.h"
#include "korv_internal.h"

namespace {

// One line of the target: dropped when its key is to be deleted, rewritten when it is to be set,
// else passed through. *changed counts the lines dropped or rewritten. 0, or -1.
int KORLILineKeyMoveHash2File(korv::FileRewrite &rw, const char *line, size_t len, PKORLSZHASH setHash,
                              PKORLSZHASH delHash, const char *format, int *changed)
{
    korv::MallocPtr<char> copy(strdup(line));
    if (!copy) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    // The key as the readers take it, so that the line changed is the line they read.
    korv::file::KeyLine keyLine;
    if (!keyLine.Cut(copy.get()))
        return rw.Put(line, len);
    char *key = keyLine.text;
    if (keyLine.Key(key) < 0)
        return -1;
    if (delHash && SzKORLSzHashGetValue(delHash, key)) {
        if (!SzKORLSzHashRemoveKey(delHash, key)) {
            KORV_LOG("SzKORLSzHashRemoveKey() szKey=%s", key);
            return -1;
        }
        ++*changed;
        return 0;
    }
    if (const char *value = SzKORLSzHashGetValue(setHash, key)) {
        if (rw.PutKeyLine(format, key, value) < 0)
            return -1;
        // The value stays readable in the pool after the key leaves the hash.
        if (!SzKORLSzHashRemoveKey(setHash, key)) {
            KORV_LOG("SzKORLSzHashRemoveKey() szKey=%s", key);
            return -1;
        }
        ++*changed;
        return 0;
    }
    return rw.Put(line, len);
}

// Whether every key to set would be found again by the readers. An empty key is refused too:
// skipping it would report success for a value that was never written.
bool KeysReadable(PKORLSZHASH setHash)
{
    for (int i = 0; i < setHash->nSlot; ++i) {
        const char *key = SzKORLSzHashSlotKey(setHash, i);
        if (key && !korv::KeyLineKeyOk(key))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int KORLFileSetKeys(const char *path, PKORLSZHASH setHash, PKORLSZHASH delHash, const char *format)
{
    if (!path || !setHash) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (!format)
        format = KORL_KEY_FORMAT_DEFAULT;
    if (!korv::KeyLineFormatOk(format) || !korv::file::HashOnOneLine(setHash) || !KeysReadable(setHash)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    korv::file::TargetRewrite file;
    bool missing = false;
    // A missing file is written from nothing, as the caller's own.
    if (file.Begin(path, &missing) < 0 && (!missing || file.rw().BeginNew(0644, getuid(), getgid()) < 0))
        return -1;
    korv::FileRewrite &rw = file.rw();

    int changed = 0;
    if (FILE *target = file.in()) {
        korv::LineReader lines(target);
        while (lines.Next()) {
            if (KORLILineKeyMoveHash2File(rw, lines.data(), lines.size(), setHash, delHash, format, &changed) < 0) {
                KORV_LOG("KORLILineKeyMoveHash2File() failed! szBuf=%s, szFormat=%s", lines.data(), format);
                return -1;
            }
        }
        if (lines.Failed()) {
            KORV_ERR(KORL_ERR_WRITE);
            return -1;
        }
    }

    // What is left to set is appended in slot order.
    korv::file::ListHolder keys(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
    if (!keys)
        return -1;  // the allocator recorded 0x0200
    if (KORLSzHashEnumKey(setHash, keys.addr()) < 0) {
        KORV_LOG("KORLSzHashEnumKey() failed!");
        return -1;
    }
    bool ended = false;
    for (int i = 0; i < keys->nItem; ++i) {
        const char *key = SzKORLSzListGet(keys.get(), i);
        if (!key || !*key)
            continue;
        if (!ended && rw.EndLine() < 0)
            return -1;
        ended = true;
        if (rw.PutKeyLine(format, key, SzKORLSzHashGetValue(setHash, key)) < 0)
            return -1;
        ++changed;
    }
    if (rw.Commit() < 0)
        return -1;
    return changed;
}
