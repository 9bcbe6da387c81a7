#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <vector>

#include "korv/string.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

struct Buffers {
    void *passwd = nullptr;
    int cbPasswd = 0;
    void *shadow = nullptr;
    int cbShadow = 0;
    ~Buffers()
    {
        free(passwd);
        free(shadow);
    }
};

}  // namespace

extern "C" int KORVUserDBGet(KORVUSERDB *set, const char *key, KORVUSER **ppUser)
{
    return KORV_GUARDED(-1, {
        if (!set || !key || !ppUser) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        std::string k(key);
        const char *line, *shadowLine;
        int r = LookupLine(set->pPWDName, k, &line);
        if (r != 0) {
            if (r > 0)
                KORV_ERR(KORV_ERR_USER_NOT_FOUND);
            return -1;
        }
        Buffers b;
        if (UserDBPasswdUnpack(line, &b.passwd, &b.cbPasswd) != 0)
            return -1;
        const auto *pw = static_cast<const struct passwd *>(b.passwd);
        int uid = static_cast<int>(pw->pw_uid), gid = static_cast<int>(pw->pw_gid);

        if (strchr(pw->pw_name, '\\'))
            return KORVUserAlloc(ppUser, pw->pw_name, nullptr, uid, gid, pw->pw_gecos, pw->pw_dir, pw->pw_shell, -1, 0,
                                 nullptr, 3);

        r = LookupLine(set->pPWDShadow, k, &shadowLine);
        if (r != 0) {
            if (r > 0)
                KORV_ERR(KORL_ERR_NOT_FOUND);
            return -1;
        }
        if (UserDBShadowUnpack(shadowLine, &b.shadow, &b.cbShadow) != 0)
            return -1;
        const auto *sp = static_cast<const struct spwd *>(b.shadow);

        int privilege = 0;
        const char *misc, *mail = nullptr;
        if (strcasecmp(key, "admin") == 0) {
            privilege = 31;
        } else if ((r = LookupLine(set->pPWDKorvser, k, &misc)) < 0) {
            return -1;
        } else if (r == 0) {
            const char *first = strchr(misc, ':');
            if (!first) {
                KORV_ERR(KORL_ERR_MALFORMED);
                return -1;
            }
            privilege = atoi(first + 1);
            if (const char *second = strchr(first + 1, ':'))
                mail = second + 1;
        }

        // Decoding never lengthens the text.
        size_t n = strlen(pw->pw_gecos) + 1;
        char small[256];
        std::vector<char> big;
        char *gecos = small;
        if (n > sizeof small) {
            big.resize(n);
            gecos = big.data();
        }
        if (KORLStrDecodeColon(pw->pw_gecos, gecos, static_cast<int>(n)) < 0)
            return -1;
        return KORVUserAlloc(ppUser, pw->pw_name, sp->sp_pwdp, uid, gid, gecos, pw->pw_dir, pw->pw_shell,
                             static_cast<int>(sp->sp_expire), sp->sp_min >= sp->sp_max ? 1 : 0, mail, privilege);
    });
}
