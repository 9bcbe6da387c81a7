// The reserved accounts (root, admin, rsync) follow a user change into the mail group "smmsp"
// and the rsync server's accounts and secrets.
#include <string.h>

#include <string>

#include "korv/backup.h"
#include "korv/crypt.h"
#include "korv/group.h"
#include "korv/string.h"
#include "korv_crypt.h"
#include "korv_internal.h"
#include "user_internal.h"
#include "user_set_internal.h"

using namespace korv::user;

namespace {

constexpr int kCipherOut = 769;
constexpr int kSecretMax = 3074;

// "crypt hash|Base64 of the scrambled password": 0, or -1 (logged).
int FreshSecret(const char *password, std::string &secret)
{
    char hash[kCipherOut];
    unsigned char scrambled[kCipherOut];
    // A password too long for the cipher's buffer gets no secret rather than a cut one.
    if (KORVNetBkpCryptPass(password, hash, sizeof hash) != 0 || KORVStrCrypt(password, scrambled, sizeof scrambled) != 0)
        return -1;
    // A scrambled byte may be 0: the encoding takes the password's length, never strlen.
    const char *text = SzBase64EncodeOneLine(scrambled, static_cast<int>(strlen(password)));
    if (!text) {
        KORV_LOG("SzBase64EncodeOneLine() failed!");
        return -1;
    }
    secret = std::string(hash) + "|" + text;
    return 0;
}

const char *RsyncName(const char *name)
{
    return strcmp(name, "admin") == 0 ? "root" : name;
}

int AuthUserSet(const char *oldName, const KORVUSER *user)
{
    const char *password = user->szPasswd;
    if (!password) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    const char *newName = user->szName;
    const bool oldReserved = oldName && KORVNetBkpReservedName(oldName);
    const bool newReserved = KORVNetBkpReservedName(newName);
    if (!oldReserved && !newReserved)
        return 0;

    std::string secret;
    if (newReserved) {
        if (oldReserved && KORVUserIsPasswdMD5Encrypt(password)) {
            // The password is the stored hash given back: the secret cannot be made anew.
            char stored[kSecretMax] = {};
            if (KORVNetBackupGetServerPasswd(oldName, stored, sizeof stored) != 0)
                KORV_LOG("KORVNetBackupGetServerPasswd() failed!! szOldName=[%s], korverr=[0x%04X]", oldName,
                         KORLErrGet());
            secret = stored;
        } else if (FreshSecret(password, secret) != 0) {
            return -1;
        }
    }

    if (!oldReserved) {
        if (KORVSmmspGroupSet(nullptr, newName, KORV_SMMSP_ADD) != 0) {
            KORV_LOG("KORVSmmspGroupSet() add [%s] failed!! korverr=0x%04X", newName, KORLErrGet());
            return -1;
        }
        if (KORVNetBackupSetServerPasswd(nullptr, newName, secret.c_str(), KORV_RSYNC_OP_ADD) != 0) {
            KORV_LOG("KORVNetBackupSetServerPasswd() failed");
            return -1;
        }
    } else if (!newReserved) {
        // The group step has carried the rename into the members already: the account leaves
        // the mail group under its new name too.
        for (const char *member : {oldName, newName}) {
            if (KORVSmmspGroupSet(member, nullptr, KORV_SMMSP_REMOVE) != 0) {
                KORV_LOG("KORVSmmspGroupSet() delete [%s] failed!! korverr=0x%04X", member, KORLErrGet());
                return -1;
            }
        }
        if (KORVNetBackupSetServerPasswd(oldName, nullptr, nullptr, KORV_RSYNC_OP_DELETE) != 0) {
            KORV_LOG("KORVNetBackupSetServerPasswd() failed");
            return -1;
        }
    } else {
        if (strcmp(oldName, newName) != 0 && KORVSmmspGroupSet(oldName, newName, KORV_SMMSP_RENAME) != 0) {
            KORV_LOG("KORVSmmspGroupSet() modify [%s]->[%s] failed!! korverr=0x%04X", oldName, newName, KORLErrGet());
            return -1;
        }
        if (KORVNetBackupSetServerPasswd(RsyncName(oldName), RsyncName(newName), secret.c_str(), KORV_RSYNC_OP_CHANGE) !=
            0) {
            KORV_LOG("KORVNetBackupSetServerPasswd() failed");
            return -1;
        }
    }
    return 0;
}

}  // namespace

namespace korv::user {

int NetBackupAuthUserSet(const char *oldName, const KORVUSER *user)
{
    if (AuthUserSet(oldName, user) == 0)
        return 0;
    KORV_LOG("NetBackupAuthUserSet [%s] failed. korverr=0x%04X", oldName ? oldName : user->szName, KORLErrGet());
    return -1;
}

}  // namespace korv::user
