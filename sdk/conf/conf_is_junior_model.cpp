// Whether the unit is a junior model, which has a flash layout of its own.
#include <stdio.h>
#include <string.h>

#include "korv/file.h"
#include "korv/raid.h"
#include "korv_unique.h"

namespace {

bool EndsWith(const char *text, size_t len, const char *suffix)
{
    size_t n = strlen(suffix);
    return len >= n && memcmp(text + len - n, suffix, n) == 0;
}

}  // namespace

extern "C" int KORVIsJuniorModel(void)
{
    char unique[100] = {};
    if (KORLFileGetKeyValue("/etc.defaults/korvinfo.conf", "unique", unique, sizeof unique, 0) <= 0)
        return 0;
    size_t len = strlen(unique);
    if (len < 6)
        return 0;
    if (strncmp(unique, "sdkdebug", 8) == 0 || EndsWith(unique, len, "_junior"))
        return 1;

    korv::UniqueFile fp(fopen("/proc/sys/kernel/korv_hw_version", "re"));
    char line[100] = {};
    if (!fp || !fgets(line, sizeof line, fp.get()))
        return 0;
    // The kernel ends the line with a LF; its last character is cut whatever it is.
    len = strlen(line);
    if (len > 0)
        line[--len] = '\0';
    return len > 1 && EndsWith(line, len, "-j") ? 1 : 0;
}
