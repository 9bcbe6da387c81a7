// The AFP server's guest login: its module in afpd.conf follows whether the guest has a password.
#include <stdio.h>
#include <unistd.h>

#include "korv/file.h"
#include "korv_command.h"
#include "korv_internal.h"
#include "user_internal.h"
#include "user_set_internal.h"

using namespace korv::user;

namespace {

constexpr const char *kGuestModule = "uams_guest.so";
constexpr const char *kNoGuestModule = "uams_noguest.so";

// The copy is edited and renamed over afpd.conf; until the rename afpd.conf is never touched.
int Switch(const KORVUSER *guest)
{
    if (!guest->szPasswd) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (access(kAfpdConf, F_OK) != 0) {
        KORV_LOG("%s not found!", kAfpdConf);
        KORV_ERR(KORL_ERR_NO_FILE);
        return -1;
    }
    // A copy that exited with any failure may be partial: it is never put in place.
    if (!korv::proc::Succeeded(korv::proc::Run({"/bin/cp", "-Rf", kAfpdConf, kAfpdConfTmp}, {.quiet = true}))) {
        KORV_LOG("/bin/cp -Rf %s %s failed!", kAfpdConf, kAfpdConfTmp);
        KORV_ERR(KORL_ERR_CHILD);
        unlink(kAfpdConfTmp);
        return -1;
    }
    struct Leftover {
        bool keep = false;
        ~Leftover()
        {
            if (!keep)
                unlink(kAfpdConfTmp);
        }
    } leftover;
    char line[512];
    int found = KORLFileGetLine(kAfpdConfTmp, "-uamlist", line, sizeof line, 0);
    if (found < 0 && KORLErrGet() != KORL_ERR_BUF_SMALL)
        return -1;
    if (found == 0)
        return 0;  // no module list to switch
    const bool open = guest->szPasswd[0] == '\0';
    if (KORLFileReplaceSubStr(kAfpdConfTmp, open ? kNoGuestModule : kGuestModule,
                              open ? kGuestModule : kNoGuestModule) == -1)
        return -1;
    if (rename(kAfpdConfTmp, kAfpdConf) != 0) {
        KORV_ERR(KORL_ERR_RENAME);
        return -1;
    }
    leftover.keep = true;
    return 0;
}

}  // namespace

namespace korv::user {

int SDKISetGuestAfpd(const KORVUSER *guest)
{
    if (Switch(guest) == 0)
        return 0;
    KORV_LOG("SDKISetGuestAfpd failed. korverr=0x%04X", KORLErrGet());
    return -1;
}

}  // namespace korv::user
