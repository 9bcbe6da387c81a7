// Reading all keys of a file, or only the wanted ones, into a hash.
#include <string.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv/string.h"
#include "korv_internal.h"

extern "C" int KORLFileGetKeys(const char *path, PKORLSZLIST wanted, PKORLSZHASH *phash, const char *delim)
{
    if (!path || !phash || !*phash || !delim) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::file::ListHolder want(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
    if (!want)
        return -1;  // the allocator recorded 0x0200
    korv::UniqueFile fp(korv::file::OpenTarget(path));
    if (!fp)
        return -1;
    if (wanted) {
        if (!PslKORLSzListOr(want.addr(), wanted, 0)) {
            KORV_LOG("PslKORLSzListOr() failed!! korverr=[0x%04X]", KORLErrGet());
            return -1;
        }
    }
    const bool selective = want->nItem > 0;

    korv::LineReader lines(fp.get());
    while (lines.Next()) {
        korv::file::KeyLine line;
        if (!line.Cut(lines.data(), delim))
            continue;
        char *key = line.text, *value = line.rest;
        if (line.Key(key) < 0 || (value && KORLStrTrimSpace(value, nullptr) < 0))
            return -1;
        if (selective) {
            int i = KORLSzListFind(want.get(), key);
            if (i < 0)
                continue;
            SzKORLSzListRemove(want.get(), i);
        }
        // A line of the key without a delimiter after it sets nothing, but it is the key's line
        // all the same: its first one stays unset, as a first-match read finds it absent and as
        // the writers rewrite that line. A key that cannot be stored is a failure.
        if (value && KORLSzHashSetValue(phash, key, value) < 0) {
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return -1;
        }
        if (selective && want->nItem == 0)
            break;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return KORLSzHashEnumKey(*phash, nullptr);
}
