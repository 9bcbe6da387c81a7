// Stored passwd and shadow lines split into the platform's entries, held in one buffer.
#include <stdlib.h>
#include <string.h>

#include "korv_internal.h"
#include "user_internal.h"

namespace korv::user {

namespace {

// Copies line behind a header of hdr bytes and cuts it at every ":": the fields in fields[],
// exactly n of them. 0, or -1 (0x4000 another count).
int Split(const char *line, size_t hdr, int n, void **ppBuf, int *pcbBuf, char **fields)
{
    if (!line || !ppBuf || !pcbBuf) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    size_t len = strlen(line);
    if (hdr + len + 1 > 0x7fffffff) {
        KORV_ERR(KORL_ERR_MALFORMED);
        return -1;
    }
    if (KORVCheckAndRealloc(ppBuf, pcbBuf, static_cast<int>(hdr + len + 1)) != 0)
        return -1;
    char *text = static_cast<char *>(*ppBuf) + hdr;
    memcpy(text, line, len + 1);
    std::string_view f[9];
    if (!AccountFields({text, len}, n, f)) {
        KORV_ERR(KORL_ERR_MALFORMED);
        return -1;
    }
    for (int i = 0; i < n; i++) {
        fields[i] = text + (f[i].data() - text);
        fields[i][f[i].size()] = '\0';
    }
    return 0;
}

}  // namespace

int UserDBPasswdUnpack(const char *line, void **ppBuf, int *pcbBuf)
{
    char *f[7];
    if (Split(line, sizeof(struct passwd), 7, ppBuf, pcbBuf, f) != 0)
        return -1;
    if (!*f[0]) {
        KORV_ERR(KORV_ERR_USER_INVALID_NAME);
        return -1;
    }
    auto *pw = static_cast<struct passwd *>(*ppBuf);
    pw->pw_name = f[0];
    pw->pw_passwd = f[1];
    pw->pw_uid = static_cast<uid_t>(FieldInt(f[2]));
    pw->pw_gid = static_cast<gid_t>(FieldInt(f[3]));
    pw->pw_gecos = f[4];
    pw->pw_dir = f[5];
    pw->pw_shell = f[6];
    return 0;
}

int UserDBShadowUnpack(const char *line, void **ppBuf, int *pcbBuf)
{
    char *f[9];
    if (Split(line, sizeof(struct spwd), 9, ppBuf, pcbBuf, f) != 0)
        return -1;
    if (!*f[0]) {
        KORV_ERR(KORV_ERR_USER_INVALID_NAME);
        return -1;
    }
    auto *sp = static_cast<struct spwd *>(*ppBuf);
    sp->sp_namp = f[0];
    sp->sp_pwdp = f[1];
    sp->sp_lstchg = FieldNumber(f[2]);
    sp->sp_min = FieldNumber(f[3]);
    sp->sp_max = FieldNumber(f[4]);
    sp->sp_warn = FieldNumber(f[5]);
    sp->sp_inact = FieldNumber(f[6]);
    sp->sp_expire = FieldNumber(f[7]);
    sp->sp_flag = static_cast<unsigned long>(atol(f[8]));
    return 0;
}

}  // namespace korv::user
