// Interface and slave names that may become part of a path or a command.
#include <string.h>

#include "net_internal.h"

namespace korv::net {

bool NameOk(const char *name)
{
    if (!name)
        return false;
    size_t n = strnlen(name, IFNAMSIZ);
    if (n == 0 || n >= IFNAMSIZ || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = name[i];
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '_' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

bool NameFieldOk(const char (&field)[16])
{
    return memchr(field, '\0', sizeof field) && NameOk(field);
}

}  // namespace korv::net
