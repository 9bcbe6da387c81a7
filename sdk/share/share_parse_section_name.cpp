#include <string.h>

#include "korv/share.h"
#include "korv_internal.h"

extern "C" int KORVShareParseSectionName(const char *line, char *name, int nameSize)
{
    if (!line || !name || nameSize <= 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const char *open = strchr(line, '[');
    const char *from = open ? open + 1 : line;
    size_t n = strnlen(from, static_cast<size_t>(nameSize) - 1);
    memcpy(name, from, n);
    name[n] = '\0';
    if (char *close = strrchr(name, ']'))
        *close = '\0';
    return 0;
}
