/* Samba's domain settings, as the account databases ask for them. */
#ifndef KORV_WINS_H
#define KORV_WINS_H

#ifdef __cplusplus
extern "C" {
#endif

#define KORV_SMB_CONF "/usr/korv/etc/smb.conf"

/* From the [global] section of smb.conf: the realm (security "ads") or the workgroup into name
 * (at most nameSize - 1 bytes), *domainMode 1 when security is "domain" or "ads", and, when
 * sambaRunning is not NULL, SambaIsRunning(). 0, or -1. */
int KORVWinsQuery1(char *name, int nameSize, int *domainMode, int *sambaRunning);
/* 1 when "runsamba" of /etc/korvinfo.conf is "yes" (any case), else 0. */
int SambaIsRunning(void);

#ifdef __cplusplus
}
#endif

#endif
