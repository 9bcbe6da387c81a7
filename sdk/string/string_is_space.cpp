#include "korv/string.h"

extern "C" int StrIsSpace(int c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}
