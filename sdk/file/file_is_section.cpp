// Section header lines: "[", a name, "]" and nothing after it but space characters.
#include <ctype.h>

#include "korv/file.h"

extern "C" int KORLFileIsSection(const char *line, int len)
{
    if (!line || len < 1 || line[0] != '[')
        return 0;
    for (int i = len - 1; i > 0; --i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == ']')
            return 1;
        if (!isspace(c))
            return 0;
    }
    return 0;
}
