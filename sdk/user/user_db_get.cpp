#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string_view>
#include <vector>

#include "korv/string.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

using namespace korv::user;

extern "C" int KORVUserDBGet(KORVUSERDB *set, const char *key, KORVUSER **ppUser)
{
    return KORV_GUARDED(-1, {
        if (!set || !key || !ppUser) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        std::string k(key);
        const char *line, *shadowLine;
        size_t len, shadowLen;
        int r = LookupLine(set->pPWDName, k, &line, &len);
        if (r != 0) {
            if (r > 0)
                KORV_ERR(KORV_ERR_USER_NOT_FOUND);
            return -1;
        }
        // name, password, uid, gid, gecos, home, shell
        std::string_view pw[7];
        if (!AccountFields({line, len}, 7, pw)) {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        if (pw[0].empty()) {
            KORV_ERR(KORV_ERR_USER_INVALID_NAME);
            return -1;
        }
        int uid = FieldInt(pw[2]), gid = FieldInt(pw[3]);

        // The texts are read from the stores' own buffers: each store's stays put until its
        // next call, and every store is read once here.
        std::string_view texts[6] = {pw[0], {}, pw[4], pw[5], pw[6], {}};
        if (memchr(pw[0].data(), '\\', pw[0].size()))
            return UserAllocTexts(ppUser, texts, uid, gid, -1, 0, 3);

        r = LookupLine(set->pPWDShadow, k, &shadowLine, &shadowLen);
        if (r != 0) {
            if (r > 0)
                KORV_ERR(KORL_ERR_NOT_FOUND);
            return -1;
        }
        // name, hash, last change, minimum, maximum, warning, inactive, expiry, flag
        std::string_view sp[9];
        if (!AccountFields({shadowLine, shadowLen}, 9, sp)) {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        if (sp[0].empty()) {
            KORV_ERR(KORV_ERR_USER_INVALID_NAME);
            return -1;
        }
        texts[1] = sp[1];

        int privilege = 0;
        const char *misc;
        size_t miscLen;
        if (strcasecmp(key, "admin") == 0) {
            privilege = 31;
        } else if ((r = LookupLine(set->pPWDKorvser, k, &misc, &miscLen)) < 0) {
            return -1;
        } else if (r == 0) {
            // name ":" privilege [":" mail]
            std::string_view m[3];
            int fields = korv::AccountFieldsUpTo({misc, miscLen}, 3, m);
            if (fields < 2) {
                KORV_ERR(KORL_ERR_MALFORMED);
                return -1;
            }
            privilege = FieldInt(m[1]);
            if (fields == 3)
                texts[5] = m[2];
        }

        // Only a gecos with an escape needs decoding, and decoding never lengthens the text.
        std::vector<char> big;
        char small[2][256];
        if (memchr(pw[4].data(), ';', pw[4].size())) {
            size_t n = pw[4].size() + 1;
            char *raw = small[0], *gecos = small[1];
            if (n > sizeof small[0]) {
                big.resize(2 * n);
                raw = big.data();
                gecos = raw + n;
            }
            memcpy(raw, pw[4].data(), n - 1);
            raw[n - 1] = '\0';
            int decoded = KORLStrDecodeColon(raw, gecos, static_cast<int>(n));
            if (decoded < 0)
                return -1;
            texts[2] = std::string_view(gecos, static_cast<size_t>(decoded));
        }
        long min = FieldNumber(sp[3]), max = FieldNumber(sp[4]);
        return UserAllocTexts(ppUser, texts, uid, gid, static_cast<int>(FieldNumber(sp[7])), min >= max ? 1 : 0,
                              privilege);
    });
}
