// Programs that use the device's absolute paths run only inside a device tree (korv-sandbox).
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <string>

inline bool korv_inside_sandbox()
{
    const char *token = getenv("KORV_SANDBOX");
    if (!token || !*token)
        return false;
    // In a device tree /proc is a folder of fixtures, never the host's procfs.
    struct statfs fs {};
    constexpr long kProcMagic = 0x9fa0;
    if (statfs("/proc", &fs) != 0 || fs.f_type == kProcMagic)
        return false;
    FILE *f = fopen("/.korvsim/sandbox", "r");
    if (!f)
        return false;
    char buf[256] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    return std::string(buf, n) == std::string(token) + "\n";
}
