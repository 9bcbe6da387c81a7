// Given password hashes stored for a batch of users: the shadow hash and the LM and NT texts.
#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "korv/proc.h"
#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_locked_lookup.h"
#include "user_internal.h"
#include "user_set_internal.h"

using namespace korv::user;

namespace {

constexpr int kScemdSignal = 47;

// A text that becomes one field of an account line: no ":" and no line break.
bool IsField(const char *s)
{
    return !strpbrk(s, ":\r\n");
}

// 32 hexadecimal digits, upper-cased as the SMB password file holds them, or the disabled form.
bool HashText(const char *s, std::string &out)
{
    if (strlen(s) != static_cast<size_t>(kHashText))
        return false;
    out = s;
    if (out == kDisabledHash)
        return true;
    for (char &c : out) {
        if (!isxdigit(static_cast<unsigned char>(c)))
            return false;
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    return true;
}

enum class Step { Changed, Written, Skipped, Stop };

// One user's shadow and SMB records: Written when only the shadow record changed.
Step SetOne(KORVUSERDB *set, const char *name, const char *hash, const std::string &lm, const std::string &nt)
{
    std::string key;
    if (UpperKey(name, key, kSetKeySize) != 0) {
        KORV_LOG("KORLUnicodeUTF8StrUpper failed [%s]", name);
        return Step::Stop;
    }
    std::string line;
    int r = ReadLine(set->pPWDShadow, key, line);
    if (r == 1)
        KORV_ERR(KORL_ERR_NOT_FOUND);
    if (r != 0) {
        KORV_LOG_NOTICE("KORVBDbGet pPWDShadow [%s] failed. korverr=0x%04X", key.c_str(), KORLErrGet());
        return Step::Skipped;
    }
    std::string_view f[9];
    if (!AccountFields(line, 9, f))
        return Step::Skipped;
    line = std::string(f[0]) + ":" + hash + ":" + std::string(f[2]) + ":" + std::string(f[3]) + ":" +
           std::string(f[4]) + ":7::" + std::string(f[7]) + ":";
    if (line.size() >= static_cast<size_t>(kLineMax)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        KORV_LOG("shadow line of [%s] too long, skipped", name);
        return Step::Skipped;
    }
    if (StoreLine(set->pPWDShadow, key, line) != 0) {
        KORV_LOG("KORVBDbSet pPWDShadow failed. korverr=0x%04X", KORLErrGet());
        return Step::Stop;
    }
    r = ReadLine(set->pPWDSMB, key, line);
    if (r == 1)
        KORV_ERR(KORL_ERR_NOT_FOUND);
    if (r != 0) {
        KORV_LOG_NOTICE("KORVBDbGet pPWDSMB [%s] failed. korverr=0x%04X", key.c_str(), KORLErrGet());
        return Step::Written;
    }
    std::string_view s[7];
    if (!AccountFields(line, 7, s))
        return Step::Written;
    line = std::string(s[0]) + ":" + std::string(s[1]) + ":" + lm + ":" + nt + ":" + std::string(s[4]) + ":" +
           std::string(s[5]) + ":";
    if (StoreLine(set->pPWDSMB, key, line) != 0) {
        KORV_LOG("KORVBDbSet pPWDSMB failed. korverr=0x%04X", KORLErrGet());
        return Step::Stop;
    }
    return Step::Changed;
}

int SetPasswd(KORVUSER *const *users, const char *const *hashes, const char *const *lms, const char *const *nts,
              int n)
{
    if (!users || !hashes || !lms || !nts || n < 0) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (n == 0)
        return 0;
    korv::LockedLookup<KORVUSERDB> db(KORL_LOCK_PW, KORVUserDBOpen, KORVUserDBClose, LOCK_EX);
    auto locked = [&]() {
        if (db.Begin() != 0)
            return -1;
        KORVUSERDB *set = db.get();
        int changed = 0;
        bool written = false, stopped = false;
        for (int i = 0; i < n && !stopped; i++) {
            if (!users[i] || !users[i]->szName || !lms[i] || !nts[i] || !hashes[i])
                continue;
            // No caller text may add a field or a line to the shadow or SMB password file.
            std::string lm, nt;
            if (!IsField(hashes[i]) || !HashText(lms[i], lm) || !HashText(nts[i], nt)) {
                KORV_ERR(KORL_ERR_BAD_PARAM);
                KORV_LOG("bad password hashes of [%s], skipped", users[i]->szName);
                continue;
            }
            switch (SetOne(set, users[i]->szName, hashes[i], lm, nt)) {
            case Step::Changed:
                ++changed;
                written = true;
                break;
            case Step::Written:
                written = true;
                break;
            case Step::Skipped:
                break;
            case Step::Stop:
                stopped = true;
                break;
            }
        }
        // What the stores hold now is published even when the batch stopped, so that the
        // stores and the text files agree.
        int result = changed > 0 && !stopped ? 0 : -1;
        if (written && KORVUserDBDump(set) != 0) {
            KORV_LOG("KORVUserDBDump failed. korverr=0x%04X", KORLErrGet());
            result = -1;
        }
        return result;
    };
    int result = locked();
    if (db.End() != 0)
        result = -1;
    return result;
}

}  // namespace

extern "C" int KORVUserSetPasswd(KORVUSER *const *users, const char *const *hashes, const char *const *lm,
                                 const char *const *nt, int n)
{
    int result = KORV_GUARDED(-1, { return SetPasswd(users, hashes, lm, nt, n); });
    KORVScemdSignal(kScemdSignal);
    return result;
}
