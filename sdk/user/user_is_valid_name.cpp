#include <string.h>

#include "korv/unicode.h"
#include "korv/user.h"

extern "C" int KORVUserIsValidName(const char *name)
{
    if (!name || !*name)
        return 0;
    int chars = KORLUnicodeUTF8StrCountChar(name);
    if (chars < 0 || chars > KORV_USER_NAME_MAX)
        return 0;
    size_t n = strlen(name);
    if (name[0] == '-' || name[0] == ' ' || name[n - 1] == ' ')
        return 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
        unsigned c = *p;
        if (c >= 0x80)
            continue;
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                  c == '-' || c == '.' || c == '_';
        if (!ok)
            return 0;
    }
    return 1;
}
