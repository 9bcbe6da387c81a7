// The fields of a stored passwd or shadow line, and their numbers.
#include <stdlib.h>
#include <string.h>

#include "korv_internal.h"
#include "user_internal.h"

namespace korv::user {

namespace {

// A field of nothing but up to nine digits, as a number; -1 for any other (left to atol).
long Digits(std::string_view field)
{
    if (field.empty() || field.size() > 9)
        return -1;
    long n = 0;
    for (char c : field) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

bool SplitFields(const char *line, size_t len, int n, std::string_view *f)
{
    const char *end = line + len, *at = line;
    int count = 0;
    for (const char *p; (p = static_cast<const char *>(memchr(at, ':', static_cast<size_t>(end - at))));
         at = p + 1) {
        if (count == n - 1) {
            KORV_ERR(KORL_ERR_MALFORMED);
            return false;
        }
        f[count++] = std::string_view(at, static_cast<size_t>(p - at));
    }
    f[count++] = std::string_view(at, static_cast<size_t>(end - at));
    if (count != n) {
        KORV_ERR(KORL_ERR_MALFORMED);
        return false;
    }
    return true;
}

int FieldInt(std::string_view field)
{
    long n = Digits(field);
    return n >= 0 ? static_cast<int>(n) : atoi(field.data());
}

long FieldNumber(std::string_view field)
{
    if (field.empty())
        return -1;
    long n = Digits(field);
    return n >= 0 ? n : atol(field.data());
}

}  // namespace korv::user
