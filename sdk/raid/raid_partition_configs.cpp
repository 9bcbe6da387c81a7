// A disk partition's size, start and type, from the first line that sfdisk prints for it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "korv/raid.h"
#include "korv_command.h"

namespace {

// The disk name reaches a shell command: only plain device names are let through.
bool PlainDiskName(const char *name)
{
    if (!*name)
        return false;
    for (const char *p = name; *p; ++p)
        if (!strchr("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-", *p))
            return false;
    return true;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

}  // namespace

extern "C" int64_t RCPartitionConfigs(int partition, const char *disk, unsigned int *start, unsigned int *typeId)
{
    if (!disk || partition <= 0)
        return -1;
    if (strncmp(disk, "/dev/", 5) == 0)
        disk += 5;
    if (!PlainDiskName(disk))
        return -1;
    std::string command = korv::proc::ShellCommand("/sbin/sfdisk -l -uS -N%d /dev/%s", {partition, disk});
    // The device's command buffer holds 63 characters: a longer command is refused, not cut.
    if (command.empty() || command.size() >= 64)
        return -1;

    char line[64];
    if (korv::proc::FirstLine(command.c_str(), line, sizeof line) != 1)
        return -1;

    // Device, start, end, sectors, type id: each followed by at least one blank.
    const char *field[5];
    const char *at = line;
    for (auto &f : field) {
        f = at;
        at += strcspn(at, " \t");
        if (!IsBlank(*at))
            return -1;
        while (IsBlank(*at))
            ++at;
    }
    if (start)
        *start = static_cast<unsigned int>(strtoul(field[1], nullptr, 10));
    if (typeId)
        *typeId = static_cast<unsigned int>(strtoul(field[4], nullptr, 16));
    return strtoll(field[3], nullptr, 10);
}
