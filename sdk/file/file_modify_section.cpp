// Rewriting one section: its header renamed and its keys replaced by a hash, or the section deleted.
#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileModifySection(const char *path, const char *section, const char *newName, PKORLSZHASH hash,
                                     int mode, const char *format)
{
    if (!path || !section) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const char *name = newName ? newName : section;
    // What is written must stand on its lines: the header's name and each entry.
    if ((mode & 1) && (korv::BreaksLine(name, true) || !korv::file::HashOnOneLine(hash))) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::file::TargetRewrite file;
    if (file.Begin(path) < 0)
        return -1;
    korv::FileRewrite &rw = file.rw();

    bool met = false, inside = false;
    korv::LineReader lines(file.in());
    while (lines.Next()) {
        const char *line = lines.data();
        if (korv::file::IsSectionHeaderOf(line, static_cast<int>(lines.size()), section)) {
            met = inside = true;
            if ((mode & 1) && KORLSzHashFileHash2File(rw.stream(), name, hash, format) < 0)
                return -1;
            continue;
        }
        // A section runs to the next line that begins with "[", as the readers see it.
        if (line[0] == '[')
            inside = false;
        // Inside the old section only its comment lines survive, after the new entries.
        if (inside && line[0] != '#' && line[0] != ';')
            continue;
        if (rw.Put(line, lines.size()) < 0)
            return -1;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    if (rw.Commit() < 0)
        return -1;
    if (!met) {
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return 0;
    }
    return 1;
}
