#include <ctype.h>
#include <stdint.h>
#include <stdio.h>

#include "korv/proc.h"
#include "korv_unique.h"

namespace {

// Reads the leading unsigned number as the device's scanf "%u" does: white space, an optional
// sign, digits; a value beyond 32 bits saturates, as strtoul does on the 32-bit device.
bool scan_u32(FILE *fp, uint32_t *value)
{
    int c;
    do
        c = fgetc(fp);
    while (c != EOF && isspace(c));
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = fgetc(fp);
    }
    if (c == EOF || !isdigit(c))
        return false;
    uint64_t number = 0;
    bool overflow = false;
    for (; c != EOF && isdigit(c); c = fgetc(fp)) {
        number = number * 10 + static_cast<uint64_t>(c - '0');
        if (number > UINT32_MAX) {
            overflow = true;
            number = UINT32_MAX;
        }
    }
    uint32_t v = static_cast<uint32_t>(number);
    if (overflow)
        v = UINT32_MAX;
    else if (negative)
        v = 0u - v;
    *value = v;
    return true;
}

}  // namespace

extern "C" int ProcPidFileRead(const char *path)
{
    if (!path)
        return -1;
    korv::UniqueFile fp(fopen(path, "r"));
    if (!fp)
        return -1;
    uint32_t pid = 0;
    if (!scan_u32(fp.get(), &pid))
        return 0;
    return static_cast<int>(pid);  // above INT32_MAX: negative, no pid
}
