// The unit of the whole-run tests: a bonded unit of a given installed build with something for
// every migration step to change, and pictures of its files to compare runs by.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace updatertest {

inline constexpr char kPackageBuild[] = "1000";
// The unit's files before the run, and what the steps make of them.
inline constexpr char kRcAtalk[] = "/usr/korv/etc/rc.atalk";
inline constexpr char kPapdConf[] = "/usr/korv/etc/papd.conf";
inline constexpr char kProfile[] = "/etc/profile";
inline constexpr char kJumboRc[] = "/usr/korv/etc/rc.d/S78JumboFrame.sh";
inline constexpr char kRsyncConf[] = "/etc/rsyncd.conf";
inline constexpr char kRsyncConfBefore[] = "uid = root\nlock file = /var/run/rsyncd.lock\nlog file = /var/log/rsyncd.log\n";
inline constexpr char kRsyncConfAfter[] =
    "uid = root\nlock file = /var/run/rsyncd.lock\nuse chroot = no\nlog file = /var/log/rsyncd.log\n";
inline constexpr char kSecrets[] = "/etc/rsyncd.secrets";
inline constexpr char kSecretsBefore[] = "alice:$1$salt$hash|abc!\n";
inline constexpr char kSecretsAfter[] = "alice:$1$salt$hash|YWJjIQA=\n";  // "abc!" and its NUL
inline constexpr char kGroupSmmsp[] = "smmsp:x:25:smmsp\n";
inline constexpr char kGroupSmmspAfter[] = "smmsp:x:25:smmsp,admin\n";
inline constexpr char kCrontabHead[] = "#minute\thour\tmday\tmonth\twday\twho\tcommand\n";
inline constexpr char kUsbLine[] = "30\t3\t*\t*\t*\troot\t/usr/korv/bin/korvusbbkp\n";
inline constexpr char kLocalLine[] = "30\t3\t*\t*\t*\troot\t/usr/korv/bin/korvlocalbkp -a \"MyBackupSet\"\n";
inline constexpr char kNetBkp[] = "/etc/korvnetbkp.conf";
inline constexpr char kNetSetDir[] = "/var/services/NetBackup/nightly";
inline constexpr char kSmbConf[] = "/usr/korv/etc/smb.conf";
inline constexpr char kSmbBefore[] = "[global]\n\tworkgroup = WORKGROUP\n\tserver string = Vaultmere\n"
                          "[public]\n\tpath = /volume1/public\n\tftp write only = yes\n\tread only = no\n"
                          "[photo]\n\tpath = /volume1/photo\n\tftp write only = no\n";
inline constexpr char kSmbAfter[] = "[global]\n\tworkgroup = WORKGROUP\n\tserver string = Vaultmere\n"
                         "[public]\n\tpath = /volume1/public\n\tftp disable list=yes\n\tftp disable modify=yes\n"
                         "\tftp disable download=yes\n\tread only = no\n"
                         "[photo]\n\tpath = /volume1/photo\n";
inline constexpr char kDenyBefore[] = "ALL: 10.0.0.7\n";
inline constexpr char kBobBefore[] = "bob:x:1026:100::/volume1/homes/bob:/bin/sh\n";
inline constexpr char kBobAfter[] = "bob:x:1026:100::/var/services/homes/bob:/bin/sh\n";
inline constexpr char kUserConfBefore[] = "#$_@UID__INDEX@_$1026$\nadmin:7:\nbob:7:\n";
inline constexpr char kSqueezeSys[] = "/var/packages/SqueezeCenter/target/MySQL/errmsg.sys";
inline constexpr char kPhotoDir[] = "/var/services/photo/2009";

// A key of "/etc/korvinfo.conf", "<absent>" when it has none.
std::string setting(const char *key);
// A file's permission bits, 0 when it is missing.
mode_t mode_of(const char *path);

// The unit: the update tree of a bonded unit of `build`, and for every step something to do; the
// package brings these images (file name, size), none by default.
void lay_out_unit(int build, const std::map<std::string, size_t> &images = {});

// What a run may change on the unit, as the files stand: kind, mode, owner and bytes (a link's
// target). Logs, "/tmp" and the simulator's own files are not part of it.
struct Node {
    char kind;  // 'd', 'f' or 'l'
    mode_t mode;
    uid_t uid;
    gid_t gid;
    std::string data;
    bool operator==(const Node &) const = default;
};
using Picture = std::map<std::string, Node>;

Picture unit_picture();
// The unit put back as the picture shows it.
void restore(const Picture &p);
// The same for other folders and files (what is missing at a root is left missing).
Picture picture_of(const std::vector<std::string> &roots);
void restore(const Picture &p, const std::vector<std::string> &roots);
// The paths whose entries differ, with what each picture holds there ("" when none).
std::string differences(const Picture &want, const Picture &got);

}  // namespace updatertest
