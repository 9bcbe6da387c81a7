// A user stored anew or replaced: its passwd, uid, misc, shadow and SMB records.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "korv/encoding.h"
#include "korv/string.h"
#include "korv_crypt.h"
#include "korv_records.h"
#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

using namespace korv::user;

namespace {

// A text that could add a line to an account file, or a field to one, is never stored.
bool FieldOk(const char *s, bool colonToo)
{
    if (!s)
        return true;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        if (*p < 0x20 || (colonToo && *p == ':'))
            return false;
    }
    return true;
}

__attribute__((format(printf, 2, 3))) int Format(std::string &out, const char *fmt, ...)
{
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    // A line that does not fit the device's line buffers is refused, never cut.
    if (n < 0 || n >= kLineMax) {
        va_end(again);
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    out.assign(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(out.data(), out.size(), fmt, again);
    va_end(again);
    out.resize(static_cast<size_t>(n));
    return 0;
}

// The 16 bytes of a hash as 32 upper-case hex digits.
std::string Hex(const unsigned char *h)
{
    char text[kHashText + 1];
    for (int i = 0; i < 16; i++)
        snprintf(text + 2 * i, 3, "%02X", h[i]);
    return text;
}

// The LM or NT text of a password; a hash that fails gives the disabled form, logged.
std::string HashText(int (*hash)(const char *, unsigned char *, int), const char *name, const char *password)
{
    unsigned char out[16];
    if (hash(password, out, sizeof out) != 0) {
        KORV_LOG("%s failed, the password is stored disabled. korverr=0x%04X", name, KORLErrGet());
        return kDisabledHash;
    }
    return Hex(out);
}

// The LM and NT fields of an old SMB line, when it has the seven fields of one and both are
// hash texts.
bool OldHashes(const std::string &smb, std::string &lm, std::string &nt)
{
    std::string_view f[7];
    auto isHash = [](std::string_view s) {
        return s.size() == static_cast<size_t>(kHashText) && s.find_first_not_of("0123456789ABCDEFX") == std::string::npos;
    };
    if (!AccountFields(smb, 7, f) || !isHash(f[2]) || !isHash(f[3]))
        return false;
    lm = f[2];
    nt = f[3];
    return true;
}

struct Lines {
    std::string passwd, misc, shadow, smb;
};

// Every line of the new records, made before anything stored is touched. 0, or -1.
int MakeLines(const KORVUSER *user, const KORVUSER *old, const std::string *oldSmb, Lines &out)
{
    std::vector<char> gecos;
    KORVUSER packed = *user;
    if (user->szGecos) {
        gecos.resize(2 * strlen(user->szGecos) + 1);
        if (KORLStrEncodeColon(user->szGecos, gecos.data(), static_cast<int>(gecos.size())) < 0)
            return -1;
        packed.szGecos = gecos.data();
    }
    char *line = nullptr;
    int cb = 0;
    int n = KORVUserDBPack(&packed, &line, &cb);
    if (n > 0 && n <= kLineMax)
        out.passwd.assign(line, static_cast<size_t>(n) - 1);
    free(line);
    if (n <= 0)
        return -1;
    if (n > kLineMax) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }

    if (Format(out.misc, "%s:%d:%s", user->szName, user->privilege, user->szMail) != 0)
        return -1;

    // An unchanged password is the stored hash given back; a changed one keeps the old salt.
    bool unchanged = old && strcmp(user->szPasswd, old->szPasswd) == 0;
    std::string hash;
    if (unchanged) {
        hash = old->szPasswd;
    } else {
        const char *h = SzSDKIWrapMD5Encrypt(user->szPasswd, old ? old->szPasswd : "");
        // A stored text that gives no salt ("*", "!" of a locked account) gets a fresh one.
        if (!h && old && *old->szPasswd)
            h = SzSDKIWrapMD5Encrypt(user->szPasswd, "");
        if (!h) {
            KORV_LOG("SzSDKIWrapMD5Encrypt failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        hash = h;
    }
    if (!FieldOk(hash.c_str(), true)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    time_t now = time(nullptr);
    long lastChange = static_cast<long>(now / 86400);
    long minimum = user->cannotChangePasswd == 1 ? 100000 : 0;
    int r = user->expireDay >= 0 ? Format(out.shadow, "%s:%s:%ld:%ld:%d:7::%d:", user->szName, hash.c_str(),
                                          lastChange, minimum, 99999, user->expireDay)
                                 : Format(out.shadow, "%s:%s:%ld:%ld:%d:7:::", user->szName, hash.c_str(),
                                          lastChange, minimum, 99999);
    if (r != 0)
        return -1;

    std::string lm, nt;
    if (unchanged) {
        // The hashes of a crypt text would be no password's: without the old ones the SMB
        // password stays disabled until it is set again.
        if (!oldSmb || !OldHashes(*oldSmb, lm, nt)) {
            KORV_LOG("no SMB hashes of [%s] to keep, stored disabled", user->szName);
            lm = nt = kDisabledHash;
        }
    } else {
        lm = HashText(KORLEncodingSmbLmHash, "KORLEncodingSmbLmHash", user->szPasswd);
        nt = HashText(KORLEncodingSmbMd4Hash, "KORLEncodingSmbMd4Hash", user->szPasswd);
    }
    return Format(out.smb, "%s:%d:%s:%s:[U          ]:LCT-%08X:", user->szName, user->uid, lm.c_str(), nt.c_str(),
                  static_cast<unsigned>(now));
}

int Store(KORVBDB *store, const std::string &key, const std::string &line, const char *what)
{
    if (StoreLine(store, key, line) == 0)
        return 0;
    KORV_LOG("KORVBDbSet %s failed. korverr=0x%04X", what, KORLErrGet());
    return -1;
}

// The given record refused before anything is read: a name the stores cannot hold, or a text
// that would break an account line. 0, or -1 with its code.
int CheckGiven(const KORVUSER *user)
{
    if (!KORVUserIsValidName(user->szName)) {
        KORV_ERR(KORV_ERR_USER_INVALID_NAME);
        return -1;
    }
    // Domain users live in samba's list, never in these stores.
    if (strchr(user->szName, '\\')) {
        KORV_ERR(KORV_ERR_USER_INVALID_NAME);
        return -1;
    }
    if (!FieldOk(user->szGecos, false) || !FieldOk(user->szMail, false) || !FieldOk(user->szHomeDir, true) ||
        !FieldOk(user->szShell, true)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return 0;
}

// What is known of the user being replaced.
struct OldUser {
    korv::UserRecord record;
    std::string smb;
    bool haveSmb = false;
    bool inPlace = false;  // a system account: stored again under its own name only
};

// The old user's record and SMB line, for an update under oldKey to key. 0, or -1.
int ReadOld(KORVUSERDB *set, const char *oldKey, const std::string &key, OldUser &old)
{
    if (KORVUserDBGet(set, oldKey, old.record.addr()) != 0) {
        KORV_ERR(KORV_ERR_USER_NOT_FOUND);
        return -1;
    }
    int r = ReadLine(set->pPWDSMB, oldKey, old.smb);
    if (r < 0)
        return -1;
    old.haveSmb = r == 0;
    if (IsSystemUid(old.record.get()->uid)) {
        if (key != oldKey) {
            KORV_ERR(KORV_ERR_USER_SYSTEM);
            return -1;
        }
        old.inPlace = true;
    }
    return 0;
}

// The given record with a default for each text it leaves null, in storage of the caller's call:
// the given record itself is never written.
struct Completed {
    KORVUSER user;
    char home[kLineMax];
};

int Complete(const KORVUSER *given, Completed &out)
{
    out.user = *given;
    KORVUSER &u = out.user;
    if (!u.szHomeDir) {
        if (snprintf(out.home, sizeof out.home, "%s/%s", kDefaultHomeRoot, u.szName) >= static_cast<int>(sizeof out.home)) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        u.szHomeDir = out.home;
    }
    if (!u.szShell)
        u.szShell = const_cast<char *>(kDefaultShell);
    if (!u.szPasswd)
        u.szPasswd = const_cast<char *>("");
    if (!u.szMail)
        u.szMail = const_cast<char *>("");
    return 0;
}

// The new lines under key, after the old user's records when it is renamed. 0, or -1.
int StoreLines(KORVUSERDB *set, const char *oldKey, const OldUser &old, const std::string &key, int uid,
               const Lines &lines)
{
    if (oldKey && !old.inPlace && KORVUserDBDelete(set, oldKey) != 0)
        return -1;
    if (StoreLine(set->pPWDName, key, lines.passwd) != 0) {
        KORV_LOG("KORVBDbSet pPWDName %s failed. korverr=0x%04X", key.c_str(), KORLErrGet());
        return -1;
    }
    if (!old.inPlace) {
        std::string id = IdKey(uid);
        if (KORVBDbSet(set->pPWDUID, id.c_str(), static_cast<int>(id.size()) + 1, key.c_str(),
                       static_cast<int>(key.size()) + 1) != 0) {
            KORV_LOG("KORVBDbSet pPWDUID failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
    }
    if (Store(set->pPWDKorvser, key, lines.misc, "pPWDKorvser") != 0 ||
        Store(set->pPWDShadow, key, lines.shadow, "pPWDShadow") != 0 ||
        Store(set->pPWDSMB, key, lines.smb, "pPWDSMB") != 0)
        return -1;
    return 0;
}

int Set(KORVUSERDB *set, const char *oldKey, const KORVUSER *given)
{
    if (!set || !given) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (CheckGiven(given) != 0)
        return -1;
    std::string key;
    if (UpperKey(given->szName, key) != 0) {
        KORV_LOG("KORLUnicodeUTF8StrUpper failed [%s]", given->szName);
        return -1;
    }

    OldUser old;
    if (oldKey && ReadOld(set, oldKey, key, old) != 0)
        return -1;
    // Neither a new user nor a renamed one may take the name of another.
    if ((!oldKey || key != oldKey) && KORVUserDBCheckExists(set, key.c_str(), static_cast<int>(key.size()), nullptr, 0)) {
        KORV_ERR(KORV_ERR_USER_EXISTS);
        return -1;
    }

    Completed user;
    Lines lines;
    if (Complete(given, user) != 0 || MakeLines(&user.user, old.record.get(), old.haveSmb ? &old.smb : nullptr, lines) != 0)
        return -1;
    return StoreLines(set, oldKey, old, key, given->uid, lines);
}

}  // namespace

extern "C" int KORVUserDBSet(KORVUSERDB *set, const char *oldKey, int oldKeyLen, KORVUSER *user)
{
    (void)oldKeyLen;  // the key is a text; its length is strlen's
    return KORV_GUARDED(-1, { return Set(set, oldKey, user); });
}
