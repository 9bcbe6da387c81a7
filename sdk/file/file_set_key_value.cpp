// Setting one key: its first line is rewritten, later lines of the key dropped, or a line appended.
#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileSetKeyValue(const char *path, const char *key, const char *value, const char *format)
{
    if (!path || !key || !value) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (!format)
        format = KORL_KEY_FORMAT_DEFAULT;
    // One call writes one line, under a key that the readers find again.
    if (!korv::KeyLineKeyOk(key) || korv::BreaksLine(value) || !korv::KeyLineFormatOk(format)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    korv::file::TargetRewrite file;
    bool missing = false;
    if (file.Begin(path, &missing) < 0 && !missing)
        return -1;
    korv::FileRewrite &rw = file.rw();
    if (missing) {
        bool written = rw.BeginNew(korv::CreationMode()) == 0 && rw.PutKeyLine(format, key, value) == 0;
        return written && rw.Commit() == 0 ? 1 : -1;
    }

    bool done = false;
    korv::LineReader lines(file.in());
    while (lines.Next()) {
        korv::MallocPtr<char> copy;
        char *keyText = nullptr, *rest = nullptr;
        int match = korv::file::CopyKeyMatch(lines.data(), key, copy, &keyText, &rest);
        if (match < 0)
            return -1;
        if (match == 0) {
            if (rw.Put(lines.data(), lines.size()) < 0)
                return -1;
            continue;
        }
        if (done)
            continue;  // only the first line of the key stays
        // The line's own spelling of the key keeps its indentation and the spaces before the "=".
        if (rw.PutKeyLine(format, rest ? keyText : key, value) < 0)
            return -1;
        done = true;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    if (!done && (rw.EndLine() < 0 || rw.PutKeyLine(format, key, value) < 0))
        return -1;
    if (rw.Commit() < 0)
        return -1;
    return 1;
}
