#include <cstring>

#include "korv/string.h"

extern "C" char *KORLStrSepNext(char **cursor, const char *delim)
{
    if (!cursor || !*cursor || !delim)
        return nullptr;
    char *token;
    while ((token = strsep(cursor, delim)) != nullptr) {
        if (*token)
            return token;
    }
    return nullptr;
}
