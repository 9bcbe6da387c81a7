/* Backup sets (network sets for an rsync server elsewhere, local sets for a volume or a disk) and
 * the accounts of the device's own rsync server.
 * No named lock inside: writers side by side never tear a line, but may lose each other's change. */
#ifndef KORV_BACKUP_H
#define KORV_BACKUP_H

#include "korv/hash.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Kinds of backup sets. */
#define BACKUP_TYPE_NETBKP   0 /* "/etc/korvnetbkp.conf" */
#define BACKUP_TYPE_LOCALBKP 1 /* "/etc/korvlocalbkp.conf" */

#define KORV_NETBKP_CONF     "/etc/korvnetbkp.conf"
#define KORV_LOCALBKP_CONF   "/etc/korvlocalbkp.conf"
#define KORV_RSYNCD_CONF     "/etc/rsyncd.conf"
#define KORV_RSYNCD_SECRETS  "/etc/rsyncd.secrets"
#define KORV_RSYNCD_SCRIPT   "/usr/korv/etc/rc.d/S84rsyncd.sh"

/* Operations of KORVNetBackupSetServerPasswd. */
#define KORV_RSYNC_OP_ADD    1
#define KORV_RSYNC_OP_CHANGE 2
#define KORV_RSYNC_OP_DELETE 3

/* Longest rsync account name: the name and ":" must fit the 16-byte key of a secrets line. */
#define KORV_RSYNC_NAME_MAX  14

/* One network set. Each text is its own heap copy ("" when the key is absent). */
typedef struct _tag_KORVNETBKPCONF_ {
    int last_bkp_status; /* -1 when absent */
    int ssh;
    int blockbkp;
    int incrbkp;
    int server_type;     /* 1 when absent */
    char *szSection;
    char *bkp_server;
    char *bkp_ip;
    char *bkp_auth_user;
    char *server_pass;
    char *last_bkp_time;
    char *bkp_module;
    char *server_pass2;
    char *bkp_shares;
    char *bkp_apps;
} KORVNETBKPCONF;

/* Destinations of a local set, stored as "internal", "usb", "esata", "usbbkp", "esatabkp". */
#define KORV_LOCALBKP_DEST_NONE     -1 /* anything else; written back as an empty value */
#define KORV_LOCALBKP_DEST_INTERNAL 0
#define KORV_LOCALBKP_DEST_USB      1
#define KORV_LOCALBKP_DEST_ESATA    2
#define KORV_LOCALBKP_DEST_USBBKP   3
#define KORV_LOCALBKP_DEST_ESATABKP 4

/* One local set, built the same way. */
typedef struct _tag_KORVLOCALBKPCONF_ {
    int dest_type; /* -1 when absent or unknown */
    int incrbkp;
    char *szSection;
    char *dest_id;
    char *dest_share;
    char *bkp_shares;
    char *bkp_apps;
    char *last_bkp_time;
    char *last_bkp_result;
} KORVLOCALBKPCONF;

/* Reads every set of the kind into *parray (one record pointer per set; null for none): their
 * number, or -1. Release with KORVBackupConfFreeAll of the same kind. */
int KORVBackupConfGetAll(void ***parray, int kind);
/* Number of section lines of path; 0 when it does not exist; -1. */
int KORVBackupConfSectionCount(const char *path);
/* Frees an array of the kind (nothing for kinds other than 0 and 1, which are logged). */
void KORVBackupConfFreeAll(void **array, int count, int kind);
void KORVNetBkpConfArrayFree(KORVNETBKPCONF **array, int count);
void KORVLocalBkpConfArrayFree(KORVLOCALBKPCONF **array, int count);

/* A record from a section's name and its keys, or null. */
KORVNETBKPCONF *KORVNetBkpConfAlloc(const char *section, PKORLSZHASH keys);
KORVLOCALBKPCONF *KORVLocalBkpConfAlloc(const char *section, PKORLSZHASH keys);
void KORVNetBkpConfFree(KORVNETBKPCONF *conf);
void KORVLocalBkpConfFree(KORVLOCALBKPCONF *conf);

/* Adds the set (oldName null or empty, or a section without keys) or rewrites the section oldName
 * under conf->szSection, keeping keys the record does not know. A rename onto another existing
 * set is refused (0x0D00). 0, or -1. New set files are created 0600: they hold passwords. */
int KORVNetBkpConfSetOne(const char *oldName, const KORVNETBKPCONF *conf);
int KORVLocalBkpConfSetOne(const char *oldName, const KORVLOCALBKPCONF *conf);

/* The DES crypt of password with the fixed salt, cut to size - 1: 0, or -1. */
int KORVNetBkpCryptPass(const char *password, char *buf, int size);
/* The secret of the account ("admin" reads "root") from "/etc/rsyncd.secrets", cut to size - 1:
 * 0, or -1. */
int KORVNetBackupGetServerPasswd(const char *name, char *buf, int size);
/* 1 for "root", "admin" and "rsync" in any case, else 0 (null too). */
int KORVNetBkpReservedName(const char *name);
/* Adds, changes or deletes an rsync account in the "auth users" line of "/etc/rsyncd.conf" and its
 * line in "/etc/rsyncd.secrets", with the daemon stopped meanwhile and started again afterwards
 * (also after a failure): 0, or -1. Records no error code. */
int KORVNetBackupSetServerPasswd(const char *oldName, const char *newName, const char *secret, int op);
/* Deletes the account's first secrets line: 0 (also when it has none), or -1. */
int NetBackupDelSecret(const char *name);

#ifdef __cplusplus
}
#endif

#endif
