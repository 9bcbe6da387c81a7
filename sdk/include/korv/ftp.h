/* The FTP chroot list and the connection deny list. */
#ifndef KORV_FTP_H
#define KORV_FTP_H

#include "korv/list.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One user name per line: the users locked into their home folders by the FTP server. */
#define KORV_FTP_CHROOT_CONF "/usr/korv/etc/ftpchroot.conf"
/* Lines "services:address[:...]" refusing clients. */
#define KORV_HOSTS_DENY "/etc/hosts.deny"

/*
 * The chroot list. Comment ("#") and empty lines are skipped and not carried into a rewritten
 * file. No named lock is taken: callers hold their own.
 */
/* Pushes the list's local names onto *plist (sorted caselessly), then its domain names when
 * "enableduserhome" is "yes": the list's item count afterwards, 0 when the file is missing
 * (the list untouched), or -1. */
int KORVFTPEnumChrootUser(PKORLSZLIST *plist);
/* Adds the names of list not yet in the file (compared caselessly; those found are removed from
 * list, the file's spelling stays). A missing file is created with the names. 0, or -1. */
int KORVFTPAddChrootUser(PKORLSZLIST list);
/* Drops the file's lines naming a name of list (caselessly): 0 (also when the file is missing),
 * or -1. */
int KORVFTPDeleteChrootUser(PKORLSZLIST list);

/*
 * The deny list.
 */
/* Pushes the IPv4 address of each line, in file order: the list's item count afterwards, or -1
 * (a missing file included). */
int ConnSecurityDenyIPEnum(PKORLSZLIST *plist);
/* Drops every line whose address is one of list's: the number of lines dropped, or -1. The file
 * is replaced only when a line was dropped. */
int ConnSecurityDenyIPDelete(PKORLSZLIST list);

#ifdef __cplusplus
}
#endif

#endif
