// The home folders of changed users: made for a new user, moved with a renamed one.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "korv/file.h"
#include "korv_command.h"
#include "korv_internal.h"
#include "user_internal.h"
#include "user_set_internal.h"

using namespace korv::user;

namespace {

// A name that is one folder below the homes' root: never "", "." or "..", never a path.
bool IsFolderName(const char *name)
{
    return name && *name && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !strchr(name, '/');
}

std::string HomeOf(const char *name)
{
    return std::string(kDefaultHomeRoot) + "/" + name;
}

// 0, or -1 when no later home may be made either.
int Make(const KORVUSER &u)
{
    const std::string home = HomeOf(u.szName);
    if (mkdir(home.c_str(), 0755) != 0 && errno != EEXIST) {
        KORV_LOG("mkdir user home folder failed. errno:%d, message:%m", errno);
        return -1;
    }
    // A folder that was there already may be a link: its owner is set, never its target's.
    if (lchown(home.c_str(), static_cast<uid_t>(u.uid), static_cast<gid_t>(u.gid)) != 0)
        KORV_LOG("chown user home folder failed.");
    return 0;
}

// Without a shell: a rename, or /bin/mv when the home lies on another file system.
void Move(const char *oldName, const char *newName)
{
    const std::string from = HomeOf(oldName), to = HomeOf(newName);
    if (rename(from.c_str(), to.c_str()) == 0)
        return;
    if (errno != EXDEV ||
        !korv::proc::Succeeded(korv::proc::Run({"/bin/mv", from.c_str(), to.c_str()}, {.quiet = true})))
        KORV_LOG("cmd failed:mv '%s' '%s'.", from.c_str(), to.c_str());
}

}  // namespace

namespace korv::user {

void UserSetHomes(const std::vector<SetEntry> &entries)
{
    if (KORLFileCheckKeyValue(KORV_INFO_CONF, "userHomeEnable", "yes", 0) != 1)
        return;
    for (const SetEntry &e : entries) {
        if (!e.changed || !IsFolderName(e.work.szName))
            continue;
        if (!e.oldName) {
            if (Make(e.work) != 0)
                return;
        } else if (strcmp(e.oldName, e.work.szName) != 0 && IsFolderName(e.oldName)) {
            Move(e.oldName, e.work.szName);
        }
    }
}

}  // namespace korv::user
