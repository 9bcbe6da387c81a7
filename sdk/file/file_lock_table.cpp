#include "file_lock_table.h"

#include "korv/file_lock.h"

// Taking locks always in this order keeps two processes from waiting on each other.
KORLLOCKFILE gKORLLockFiles[] = {
    {nullptr, KORL_LOCK_DIR "lock_korvinfo", KORL_LOCK_KORVINFO, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_pw", KORL_LOCK_PW, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_gr", KORL_LOCK_GR, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_rc", KORL_LOCK_RC, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_host", KORL_LOCK_HOST, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_smb", KORL_LOCK_SMB, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_exports", KORL_LOCK_EXPORTS, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_nw", KORL_LOCK_NW, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_apple", KORL_LOCK_APPLE, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_snmp", KORL_LOCK_SNMP, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_win", KORL_LOCK_WIN, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_tapebkp", KORL_LOCK_TAPEBKP, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_connect", KORL_LOCK_CONNECT, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_usbidmap", KORL_LOCK_USBIDMAP, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_duseruid", KORL_LOCK_DUSERUID, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_dusergid", KORL_LOCK_DUSERGID, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_fstab", KORL_LOCK_FSTAB, 0, 0},
    {nullptr, KORL_LOCK_DIR "lock_hotswap", KORL_LOCK_HOTSWAP, 0, 0},
    {nullptr, nullptr, 0, 0, 0},
};
