// Removing every line of a key.
#include <stdio.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileRemoveKey(const char *path, const char *key)
{
    if (!path || !key) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Callers remove keys from files that may never have been written: no code for that.
    korv::file::TargetRewrite file;
    if (file.Begin(path, nullptr, true) < 0)
        return -1;
    korv::FileRewrite &rw = file.rw();

    int dropped = 0;
    korv::LineReader lines(file.in());
    while (lines.Next()) {
        korv::MallocPtr<char> copy;
        int match = korv::file::CopyKeyMatch(lines.data(), key, copy);
        if (match < 0)
            return -1;
        if (match == 1)
            ++dropped;
        else if (rw.Put(lines.data(), lines.size()) < 0)
            return -1;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    return korv::file::CommitChanges(rw, dropped);
}
