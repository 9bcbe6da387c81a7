// The steps of the configuration stage, each in a file of its own named after it. A step returns
// 0, or -1 when it failed (after its messages); the migration table decides what a failure means.
#pragma once

namespace korv {
class FileRewrite;
}

// The configuration stage: every configuration step whose flag is set, in the table's order; the
// steps after a failure still run. 0, or -1 when a step that fails the stage failed.
int UPDTUpdateConfig(void);

// The share option "ftp write only" of smb.conf becomes the three "ftp disable" options.
int ConvertFTPWriteOnlyFlag(void);
// The stage's row for it: the conversion, and its message when it failed.
int UPDTConfigFtpWriteOnly(void);

// The addresses of the FTP deny list move into the auto-block list.
int AutoBlockConvertFTPBlockIP(void);
// The stage's row for it: the move, and its message when it failed.
int UPDTConfigFtpDenyToAutoBlock(void);

// "MTUValue" of the settings capped for the new driver: "4074" to "4000", "9000" to "8000".
int UPDTConfigMtuValueCap(void);
// "MTUValue" of the settings becomes "eth0_mtu"; the old key goes once the new one is written.
int UPDTConfigMtuValueToEth0(void);
// "eth0_mtu" copied as "bond0_mtu".
int UPDTConfigBond0Mtu(void);
// The settings' key "eventtest" removed.
int UPDTConfigRemoveEventTest(void);

// Removes one file of the installed system for the stage: a missing file is no failure. On a
// failure logs "<source>:<line>(UPDTUpdateConfig) Failed to <what>, errno=(<n>)[<text>]" and gives -1.
int UPDTConfigRemoveFile(const char *path, const char *what);
// The old build's files that the new firmware has no use for.
int UPDTConfigRemoveRcAtalk(void);
int UPDTConfigRemovePapdConf(void);
int UPDTConfigRemoveProfile(void);
int UPDTConfigRemoveJumboFrameRc(void);

// The FTP server's system group and accounts, regular entries of their names renamed first.
int UPDTConfigFtpSystemAccounts(void);
// A regular account named name (uid above 1024) renamed to the first free "<name><n>", n below
// 128. 0 when there was nothing to do or the account was renamed; -1 after a message.
int CheckAndRenameReservedUser(const char *name);

// The account files asked by UPDTConfigEntryExists.
enum UPDTENTRYFILE { UPDT_ENTRY_GROUP, UPDT_ENTRY_PASSWD, UPDT_ENTRY_SHADOW };
// 1 when the file has an entry of the name, 0 when it has none, -1 when the lookup failed (after
// a message): a failed lookup adds nothing, since the entry may well be there. Each file is asked
// on its own, so that an account with only its "/etc/passwd" line gets its "/etc/shadow" line.
int UPDTConfigEntryExists(UPDTENTRYFILE file, const char *name);

// Run on every update: manutil.conf and php.ini removed, the two old crontab lines filtered out.
int UPDTConfigRemoveManutilConf(void);
int UPDTConfigRemovePhpIni(void);
int UPDTConfigCrontabFilters(void);
// The old "/writeable" layout's files removed and its configurations saved to the volume.
int UPDTConfigOldLayout(void);

// The home directories of "/etc/passwd" under "/var/services/homes" (domain accounts dropped).
int UPDTConfigPasswdHomes(void);
// The words of UPDTConfigCommitFile's messages, "<what> failed. errno:<n>, message:<text>", for a
// failed flush, sync, rename, and any other failure of the commit.
struct UPDTCOMMITSTEPS {
    const char *flush;
    const char *sync;
    const char *rename;
    const char *commit;
};
// An account file's rewrite ended by its Commit: the copy flushed, synced, given its owner and
// mode ("fchmod"), closed and renamed over the file. 0; else -1 after the failed step's message
// (after a failed rename the complete copy stays beside the file).
int UPDTConfigCommitFile(korv::FileRewrite &rw, const UPDTCOMMITSTEPS &steps);
// "/etc/korvuser.conf" written anew from the local users and their mail addresses.
int UPDTConfigUserConfFile(void);
// The mail service's groups and accounts, each added where it is missing.
int UPDTConfigMailAccounts(void);
// A bond in balance-alb mode becomes active-backup.
int UPDTConfigBondAlbToActiveBackup(void);
// The SqueezeCenter package's error-message files become links to the system's.
int UPDTConfigSqueezeErrmsgLinks(void);
