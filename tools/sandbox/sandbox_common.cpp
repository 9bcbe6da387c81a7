// What the launcher's stages share: its errors, the host's tools, the inside paths of bound
// folders and the id maps of the caller.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sandbox.h"

namespace sandbox {

[[noreturn]] void die(const std::string &what)
{
    fprintf(stderr, "korv-sandbox: %s: %s\n", what.c_str(), strerror(errno));
    _exit(125);
}

[[noreturn]] void refuse(const std::string &message)
{
    fprintf(stderr, "korv-sandbox: %s\n", message.c_str());
    _exit(125);
}

[[noreturn]] void refuse_link(const std::string &shown)
{
    refuse(shown + " is a link; the sandbox follows no links in a tree (remove it, or use another tree)");
}

std::vector<std::pair<std::string, std::string>> host_tools()
{
    static const char *const kTools[] = {
        "sh",      "bash",  "dd",    "mv",     "cp",     "rm",       "rmdir",  "mkdir",  "find",     "chmod",
        "chown",   "grep",  "ln",    "touch",  "cat",    "kill",     "sleep",  "ls",     "echo",     "true",
        "false",   "sed",   "head",  "tail",   "wc",     "cmp",      "diff",   "env",    "stat",     "readlink",
        "sync",    "tr",    "cut",   "sort",   "uniq",   "od",       "printf", "test",   "expr",     "basename",
        "dirname", "date",  "id",    "mount",  "umount", "tar",      "gzip",   "mktemp", "realpath", "truncate",
        // The checkers of what the library writes: shadow-utils' and samba's.
        "pwck",    "grpck", "testparm",
    };
    std::vector<std::pair<std::string, std::string>> found;
    for (const char *name : kTools) {
        for (const char *dir : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"}) {
            char real[PATH_MAX];
            if (realpath((std::string(dir) + name).c_str(), real) && access(real, X_OK) == 0) {
                found.emplace_back(name, real);
                break;
            }
        }
    }
    return found;
}

std::string inside_path(const Options &opt, const std::string &hostPath)
{
    for (const std::string &bound : opt.bindRo) {
        if (hostPath == bound || hostPath.rfind(bound + "/", 0) == 0)
            return kHostDir + hostPath;
    }
    return {};
}

namespace {

// The first range of subordinate ids that /etc/subuid or /etc/subgid grants the user.
bool subordinate_range(const char *file, const std::string &user, uid_t uid, unsigned long &start,
                       unsigned long &count)
{
    FILE *f = fopen(file, "re");
    if (!f)
        return false;
    char line[512];
    bool found = false;
    while (!found && fgets(line, sizeof line, f)) {
        char name[256];
        if (sscanf(line, "%255[^:]:%lu:%lu", name, &start, &count) == 3 && count > 0 &&
            (name == user || name == std::to_string(uid)))
            found = true;
    }
    fclose(f);
    return found;
}

// The caller's name from /etc/passwd (the launcher is linked statically, without the name
// services; subordinate ids are granted to local users).
std::string user_name(uid_t uid)
{
    FILE *f = fopen("/etc/passwd", "re");
    if (!f)
        return {};
    char line[1024];
    std::string found;
    while (found.empty() && fgets(line, sizeof line, f)) {
        char name[256];
        unsigned long id = 0;
        if (sscanf(line, "%255[^:]:%*[^:]:%lu:", name, &id) == 2 && id == uid)
            found = name;
    }
    fclose(f);
    return found;
}

}  // namespace

// Root inside is kRootIdBase on the host when root starts the sandbox; an ordinary user's root
// inside is the caller, and 1 up to 65535 are the subordinate ids the system grants the user.
IdMaps caller_id_maps()
{
    IdMaps maps;
    if (geteuid() == 0) {
        maps.uids = {{0, kRootIdBase, kIdCount}};
        maps.gids = {{0, kRootIdBase, kIdCount}};
        return maps;
    }
    maps.uids = {{0, static_cast<uint32_t>(geteuid()), 1}};
    maps.gids = {{0, static_cast<uint32_t>(getegid()), 1}};
    std::string user = user_name(geteuid());
    unsigned long uidStart = 0, uidCount = 0, gidStart = 0, gidCount = 0;
    if (subordinate_range("/etc/subuid", user, geteuid(), uidStart, uidCount) &&
        subordinate_range("/etc/subgid", user, geteuid(), gidStart, gidCount) && access("/usr/bin/newuidmap", X_OK) == 0 &&
        access("/usr/bin/newgidmap", X_OK) == 0) {
        maps.uids.push_back({1, static_cast<uint32_t>(uidStart), static_cast<uint32_t>(std::min(uidCount, 65535ul))});
        maps.gids.push_back({1, static_cast<uint32_t>(gidStart), static_cast<uint32_t>(std::min(gidCount, 65535ul))});
        maps.subordinate = true;
    }
    return maps;
}

long long host_id(const std::vector<IdRange> &map, uint32_t inside)
{
    for (const IdRange &range : map) {
        if (inside >= range.inside && inside - range.inside < range.count)
            return static_cast<long long>(range.host) + (inside - range.inside);
    }
    return -1;
}

}  // namespace sandbox
