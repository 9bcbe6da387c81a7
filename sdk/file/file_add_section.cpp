// Appending a new section, built from a hash, at the end of a file.
#include <unistd.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int ErrKORLFileAddSection(const char *path, const char *section, PKORLSZHASH hash, const char *format)
{
    if (!path || !section || !hash) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    // Checked before anything is written: a bad format would leave a lone header behind.
    if (!HashFileFormatCheck(format) || korv::BreaksLine(section, true) || !korv::file::HashOnOneLine(hash)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::file::Target file;
    korv::UniqueFile target(file.Open(path, "r+"));
    if (!target)
        return -1;

    bool endsWithBreak = false;  // an empty file gets a blank line first too
    {
        korv::LineReader lines(target.get());
        while (lines.Next()) {
            if (korv::file::IsSectionHeaderOf(lines.data(), static_cast<int>(lines.size()), section))
                return 0;
            endsWithBreak = lines.HasNewline();
        }
        // A failed read is told by the result alone.
        if (lines.Failed())
            return -1;
    }

    FILE *fp = target.get();
    if (fseek(fp, 0, SEEK_END) != 0 || (!endsWithBreak && fputc('\n', fp) == EOF)) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    if (KORLSzHashFileHash2File(fp, section, hash, format) < 0)
        return -1;
    if (fflush(fp) != 0 || fsync(fileno(fp)) != 0 || target.close() != 0) {
        KORV_ERR(KORL_ERR_WRITE);
        return -1;
    }
    return 1;
}
