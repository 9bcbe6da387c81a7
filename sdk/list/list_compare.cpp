#include <cstring>

#include "korv/list.h"
#include "korv/unicode.h"

extern "C" int SzListCompare(const void *a, const void *b)
{
    return strcmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

extern "C" int SzListCaseCompare(const void *a, const void *b)
{
    return KORLUnicodeUTF8StrCaseCmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}
