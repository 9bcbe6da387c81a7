/* The library as the device's C programs see it: every public header compiles as C, and the
 * plain records and functions can be used without any C++. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>

#include "korv/autoblock.h"
#include "korv/backup.h"
#include "korv/bdb.h"
#include "korv/crypt.h"
#include "korv/download.h"
#include "korv/encoding.h"
#include "korv/error.h"
#include "korv/eventlog.h"
#include "korv/file.h"
#include "korv/file_lock.h"
#include "korv/ftp.h"
#include "korv/group.h"
#include "korv/hash.h"
#include "korv/list.h"
#include "korv/log.h"
#include "korv/mail.h"
#include "korv/mtd.h"
#include "korv/net.h"
#include "korv/proc.h"
#include "korv/raid.h"
#include "korv/schedule.h"
#include "korv/share.h"
#include "korv/string.h"
#include "korv/unicode.h"
#include "korv/user.h"
#include "korv/wins.h"

#include "c_api.h"

int c_api_lists_and_hashes(void)
{
    PKORLSZLIST list = PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE);
    PKORLSZHASH hash = PshKORLSzHashAlloc(0);
    int ok = list && hash;
    ok = ok && KORLSzListPush(&list, "beta") >= 0 && KORLSzListPush(&list, "alpha") >= 0;
    ok = ok && strcmp(SzKORLSzListGet(list, 1), "alpha") == 0;
    ok = ok && KORLSzHashSetValue(&hash, "key", "value") >= 0;
    ok = ok && strcmp(SzKORLSzHashGetValue(hash, "key"), "value") == 0;
    KORLSzListFree(list);
    KORLSzHashFree(hash);
    return ok ? 0 : -1;
}

int c_api_strings(void)
{
    char trimmed[32];
    char upper[32];
    const char *items[] = {"a", "b", "c"};
    char *joined = NULL;
    int cb = 0;
    int ok = KORLStrTrimSpace("  x y \t", trimmed) >= 0 && strcmp(trimmed, "x y") == 0;
    ok = ok && KORLStrJoin(items, 3, ",", &joined, &cb) == 0 && strcmp(joined, "a,b,c") == 0;
    free(joined);
    ok = ok && strcmp(SzBase64EncodeOneLine("abc", 3), "YWJj") == 0;
    ok = ok && KORLUnicodeUTF8StrUpper("stra\xc3\x9f" "e", upper, sizeof upper) >= 0 &&
         strcmp(upper, "STRASSE") == 0;
    return ok ? 0 : -1;
}

int c_api_files_and_locks(void)
{
    char value[64];
    int set = KORLFileSetKeyValue("/etc/capi.conf", "name", "vault", KORL_KEY_FORMAT_QUOTED);
    int got = KORLFileGetKeyValue("/etc/capi.conf", "name", value, sizeof value, 0);
    int absent = KORLFileGetKeyValue("/etc/capi.conf", "absent", value, sizeof value, 0);
    int absentCode = KORLErrGet();
    int locked = ErrKORLFileLock(KORL_LOCK_KORVINFO | LOCK_EX | LOCK_NB, 5);
    int unlocked = ErrKORLFileUnlock(KORL_LOCK_KORVINFO);
    if (set < 0 || got != 6 || absent != 0 || absentCode != KORL_ERR_NOT_FOUND || locked != 0 || unlocked != 0) {
        fprintf(stderr, "set %d got %d absent %d code 0x%04X lock %d unlock %d\n", set, got, absent, absentCode,
                locked, unlocked);
        return -1;
    }
    return 0;
}

int c_api_records(void)
{
    KORVMTDFISMOD mod;
    memset(&mod, 0, sizeof mod);
    strncpy(mod.name, "zImage", sizeof mod.name - 1);
    KORVRAIDINFO *info = NULL;
    int notMd = KORVRaidInfoGet("/dev/hda1", &info) == -1 && info == NULL && KORLErrGet() == KORV_ERR_RAID_NOT_MD;
    KORVRaidInfoFree(info);
    return sizeof(KORVMTDFISENTRY) == 256 && sizeof(KORVMTDFISMOD) == 28 && sizeof(KORVMDARRAYINFO) == 72 &&
                   KORVMTDModifyFISEntry(NULL, &mod) == -1 && notMd
               ? 0
               : -1;
}

int c_api_net(void)
{
    KORVNETLINKAGGR bond;
    KORVNETIFINFO ifs[8];
    int numbers[4];
    int ok;
    memset(&bond, 0, sizeof bond);
    strncpy(bond.szBond, "bond0", sizeof bond.szBond - 1);
    bond.mode = 3;
    ok = KORVNetLinkAggrOptSlaveAdd(&bond, "eth1") == 0 && KORVNetLinkAggrOptSlaveAdd(&bond, "eth0") == 0;
    ok = ok && bond.nSlave == 2 && strcmp(bond.szSlave[0], "eth0") == 0;
    ok = ok && KORVNetSepIP("10.0.0.1", numbers) == 4 && numbers[3] == 1 && KORVNetIsIPAddr("10.0.0.1") == 1;
    ok = ok && KORVNetGetInterfaceInfo(ifs, 8, 0) == -1 && KORLErrGet() == KORL_ERR_BAD_PARAM;
    return ok ? 0 : -1;
}

int c_api_hashes_and_cipher(void)
{
    unsigned char nt[KORL_SMB_HASH_SIZE];
    unsigned char scrambled[16];
    static const unsigned char ntPassword[KORL_SMB_HASH_SIZE] = {0x88, 0x46, 0xF7, 0xEA, 0xEE, 0x8F, 0xB1, 0x17,
                                                                 0xAD, 0x06, 0xBD, 0xD8, 0x30, 0xB7, 0x58, 0x6C};
    int ok = KORLEncodingSmbMd4Hash("password", nt, sizeof nt) == 0 && memcmp(nt, ntPassword, sizeof nt) == 0;
    ok = ok && KORVStrCrypt("password", scrambled, sizeof scrambled) == 0 && memcmp(scrambled, "password", 8) != 0;
    return ok ? 0 : -1;
}

int c_api_store_and_users(void)
{
    KORVBDB *store = KORVBDbOpen("/tmp/.db.c_api", O_RDWR | O_CREAT, 1);
    KORVUSER *user = NULL;
    void *value = NULL;
    int cb = 0;
    int ok = store != NULL && KORVBDbSet(store, "001030", 7, "ALICE", 6) == 0;
    ok = ok && KORVBDbGet(store, "001030", 7, &value, &cb) == 0 && cb == 6 && strcmp((char *)value, "ALICE") == 0;
    ok = ok && KORVUserAlloc(&user, "alice", NULL, 1030, 100, "Alice", NULL, NULL, -1, 0, NULL, 0) == 0;
    ok = ok && strcmp(user->szName, "alice") == 0 && user->szPasswd[0] == '\0' && user->userType == KORV_USER_TYPE_LOCAL;
    ok = ok && KORVUserIsValidName("alice") == 1 && KORVUserIsValidName("-alice") == 0;
    {
        /* The batch arrays as a C program holds them. */
        const char *olds[1] = {NULL};
        KORVUSER *users[1];
        const char *texts[1] = {""};
        users[0] = user;
        ok = ok && KORVUserSetList(olds, users, -1) == -1 && KORLErrGet() == KORL_ERR_BAD_PARAM;
        ok = ok && KORVUserSetPasswd(users, texts, texts, texts, 0) == 0;
    }
    KORVBDbFree(value);
    KORVUserFree(user);
    if (store)
        KORVBDbClose(store);
    return ok ? 0 : -1;
}

int c_api_groups_and_shares(void)
{
    char alice[] = "alice", bob[] = "bob";
    char *members[] = {alice, bob, NULL};
    KORVGROUP *group = NULL;
    KORVSHARE in;
    KORVSHARE *share;
    KORVSHARE *back = NULL;
    void *stored;
    struct group gr;
    int ok = KORVGroupAlloc2(&group, "staff", 65600, members) == 0;
    ok = ok && strcmp(group->ppszMembers[1], "bob") == 0 && group->ppszMembers[2] == NULL;
    ok = ok && KORVGroupToUnixGroup(group, &gr) == 0 && gr.gr_gid == 65600 && strcmp(gr.gr_passwd, "x") == 0;
    memset(&in, 0, sizeof in);
    in.szName = "Public";
    in.szPath = "/volume1/Public";
    in.szWriteList = "alice,@staff";
    in.fType = KORV_SHARE_READ_ONLY;
    in.browseable = 1;
    share = KORVShareAlloc(&in);
    ok = ok && share != NULL && share->cbRecord == 44 + 7 + 16 + 13;
    stored = ok ? KORVShareDBPack(share) : NULL;
    ok = ok && stored != NULL && KORVShareDBUnPack(stored, &back) == 0;
    ok = ok && strcmp(back->szWriteList, "alice,@staff") == 0 && back->szComment[0] == '\0';
    ok = ok && KORVShareIsUsbShare("usbshare2") == 1 && KORVGroupIsValidName("staff") == 1;
    free(stored);
    KORVShareFree(share);
    KORVShareFree(back);
    KORVGroupFree(group);
    return ok ? 0 : -1;
}
