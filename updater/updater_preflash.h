// The migrations of the running system's service settings that main runs before the flash is
// read. Each is a step of the migration table: 0, or negative when the run may not go on.
#pragma once

// "ftphighport" brought within 127 ports of "ftplowport". 0 or -1.
int UpdateFTPPassivePortRange(void);
// "use chroot = no" after the lock-file line of "/etc/rsyncd.conf"; the secrets file's mode and
// owner. Failures are only logged: 0.
int UpdateRsyncdConf(void);
// Every secret of "/etc/rsyncd.secrets" in Base64, the file rebuilt through a temporary file
// owned 0:25 with mode 0640. Failures are only logged (never a secret): 0.
int CheckAndUpdateRsyncdSecrets(void);
// "admin" a member of "smmsp" in "/etc/group". Failures are only logged: 0.
int CheckAndUpdateSmmspGroup(void);
// The USB backup settings and schedule as the local set "MyBackupSet", unless a local set file
// exists. Failures are only logged: 0.
int ConvertUSBBackupToLocalBackup(void);
// Each network backup set's shares become the set's own name; then UpdateNetBackupConfigPath.
// Failures are only logged: 0.
int UpdateNetBackupSets(void);
// Every set folder's "configbackup.dss" of "/var/services/NetBackup" moved into its "@app".
void UpdateNetBackupConfigPath(void);
// A numeric code page of the key in "/etc/korvinfo.conf" as a language code: the setter's result.
int UpdateCodepage(const char *key);
// Both code-page keys, and "codepage_apple" dropped. 0.
int UpdateCodepages(void);
