// Whether a header line names a section.
#include <ctype.h>
#include <string.h>

#include "file_internal.h"
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int KORLFileMatchSection(const char *line, int len, const char *name)
{
    if (!line || !name) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    size_t n = strlen(name);
    // A line too short for the brackets and the name is never read past its end.
    if (len < 0 || static_cast<size_t>(len) < n + 2)
        return 0;
    if (line[0] != '[' || strncmp(line + 1, name, n) != 0 || line[n + 1] != ']')
        return 0;
    for (size_t i = n + 2; i < static_cast<size_t>(len); ++i) {
        if (!isspace(static_cast<unsigned char>(line[i])))
            return 0;
    }
    return 1;
}

namespace korv::file {

bool IsSectionHeaderOf(const char *line, int len, const char *name)
{
    return KORLFileIsSection(line, len) == 1 && KORLFileMatchSection(line, len, name) == 1;
}

}  // namespace korv::file
