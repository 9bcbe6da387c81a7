// Reading one section's key lines into a hash.
#include <string.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv/string.h"
#include "korv_internal.h"
#include "korv_malloc_ptr.h"

namespace {

// Whether KORLStrSepPair would split the line: an "=" after a key that does not trim to nothing.
// Lines that would not split are skipped without a code being recorded for them.
bool Splits(const char *line)
{
    const char *eq = strchr(line, '=');
    if (!eq)
        return false;
    korv::MallocPtr<char> key(strndup(line, static_cast<size_t>(eq - line)));
    return key && KORLStrTrimSpace(key.get(), nullptr) > 0;
}

}  // namespace

extern "C" int KORLFileGetSection(const char *path, const char *section, PKORLSZHASH *phash)
{
    if (!path || !section || !phash || !*phash) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::file::ListHolder pair(PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE));
    if (!pair)
        return -1;  // the allocator recorded 0x0200
    korv::UniqueFile fp(korv::file::OpenTarget(path));
    if (!fp)
        return -1;

    korv::LineReader lines(fp.get());
    bool found = false;
    while (!found && lines.Next())
        found = korv::file::IsSectionHeaderOf(lines.data(), static_cast<int>(lines.size()), section);
    while (found && lines.Next()) {
        if (lines.data()[0] == '[')
            break;
        if (!Splits(lines.data()))
            continue;
        KORLSzListRemoveAll(pair.get());
        if (KORLStrSepPair(lines.data(), pair.addr()) != 0)
            return -1;
        if (KORLSzHashSetValue(phash, SzKORLSzListGet(pair.get(), 0), SzKORLSzListGet(pair.get(), 1)) < 0) {
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return -1;
        }
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return KORLSzHashEnumKey(*phash, nullptr);
}
