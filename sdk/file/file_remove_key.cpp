// Removing every line of a key.
#include <string.h>

#include "korv/file.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "korv_rewrite.h"

extern "C" int KORLFileRemoveKey(const char *path, const char *key)
{
    if (!path || !key) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Callers remove keys from files that may never have been written: no code for that.
    korv::UniqueFile target(fopen(path, "r"));
    if (!target)
        return -1;
    korv::FileRewrite rw(path);
    if (rw.Begin(fileno(target.get())) < 0)
        return -1;

    int dropped = 0;
    korv::LineReader lines(target.get());
    while (lines.Next()) {
        korv::MallocPtr<char> copy(strdup(lines.data()));
        if (!copy) {
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return -1;
        }
        if (KORLFileLineKeyMatch(copy.get(), key) == 1) {
            ++dropped;
            continue;
        }
        if (rw.Put(lines.data(), lines.size()) < 0)
            return -1;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    if (dropped == 0) {
        rw.Abandon();
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return 0;
    }
    if (rw.Commit() < 0)
        return -1;
    return dropped;
}
