#include "updater_unit.h"

#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "device_tree.h"
#include "korv/autoblock.h"
#include "korv/file.h"
#include "korv/ftp.h"
#include "korvtest.h"

using korvtest::read_file;
using korvtest::write_file;

namespace updatertest {

std::string setting(const char *key)
{
    char buf[128] = {};
    return KORLFileGetKeyValue(KORV_INFO_CONF, key, buf, sizeof buf, 0) > 0 ? buf : "<absent>";
}

mode_t mode_of(const char *path)
{
    struct stat st = {};
    return stat(path, &st) == 0 ? st.st_mode & 07777 : 0;
}

void lay_out_unit(int build, const std::map<std::string, size_t> &images)
{
    korvtest::UpdateTree tree;
    tree.package.images = images;
    tree.identity.buildnumber = std::to_string(build);
    tree.identity.defaults["maxshares"] = "256";
    auto &s = tree.identity.settings;
    s["MTUValue"] = "9000";
    s["eventtest"] = "yes";
    s["ftplowport"] = "55536";
    s["ftphighport"] = "55700";
    s["codepage"] = "932";
    s["codepage_mediaservice"] = "866";
    s["codepage_apple"] = "10000";
    s["usbbkpshares"] = "public";
    s["usbbkpid"] = "20080315142233-0011";
    s["usbbkpresult"] = "done";
    s["ftpipautodeny"] = "yes";
    tree.package.buildnumber = kPackageBuild;
    korvtest::build_update_tree(tree);
    korvtest::build_bonded_network(korvtest::kModeAlb);

    for (const char *path : {kRcAtalk, kPapdConf, kProfile, kJumboRc})
        write_file(path, "old\n");
    write_file(kRsyncConf, kRsyncConfBefore, 0600);
    write_file(kSecrets, kSecretsBefore, 0600);
    write_file("/etc/group", read_file("/etc/group") + kGroupSmmsp);
    write_file("/etc/crontab", kCrontabHead + std::string(kUsbLine));
    write_file(kNetBkp, "[nightly]\n\tbkp_server=\"nas2\"\n\tbkp_shares=\"public,photo\"\n", 0600);
    korvtest::make_dirs(kNetSetDir);
    write_file(std::string(kNetSetDir) + "/configbackup.dss", "set");
    write_file(kSmbConf, kSmbBefore);
    write_file(KORV_HOSTS_DENY, kDenyBefore);
    // The system accounts a unit has for the mail group's and the FTP group's members.
    write_file("/etc/passwd", read_file("/etc/passwd") + "smmsp:x:25:25:smmsp:/nonexist:/sbin/nologin\n" +
                                  "nobody:x:99:100:nobody:/nonexist:/sbin/nologin\n" + kBobBefore);
    write_file("/etc/shadow",
               read_file("/etc/shadow") + "smmsp:*:10933:0:99999:7:::\nnobody:*:10933:0:99999:7:::\n" +
                   "bob:*:14000:0:99999:7:::\n",
               0600);
    write_file("/etc/korvuser.conf", kUserConfBefore);
    write_file(kSqueezeSys, "package's copy\n");
    korvtest::make_dirs(std::string(kPhotoDir) + "/@eaDir");
    write_file(std::string(kPhotoDir) + "/@eaDir/a.jpg", "thumb", 0600);
    chmod((std::string(kPhotoDir) + "/@eaDir").c_str(), 0700);
    chmod(kPhotoDir, 0750);
}

namespace {

const char *const kUnitRoots[] = {"/etc", "/etc.defaults", "/usr/korv", "/var/services", "/var/packages", "/volume1"};

void take(const std::string &path, Picture &out)
{
    struct stat st = {};
    if (lstat(path.c_str(), &st) != 0)
        return;
    Node n{'f', static_cast<mode_t>(st.st_mode & 07777), st.st_uid, st.st_gid, {}};
    if (S_ISLNK(st.st_mode)) {
        n.kind = 'l';
        std::vector<char> buf(4096);
        ssize_t len = readlink(path.c_str(), buf.data(), buf.size());
        n.data.assign(buf.data(), len > 0 ? static_cast<size_t>(len) : 0);
    } else if (S_ISDIR(st.st_mode)) {
        n.kind = 'd';
        std::vector<std::string> names;
        if (DIR *d = opendir(path.c_str())) {
            while (const dirent *e = readdir(d))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    names.push_back(e->d_name);
            closedir(d);
        }
        for (const auto &name : names)
            take(path + "/" + name, out);
    } else if (S_ISREG(st.st_mode)) {
        n.data = read_file(path);
        // A block record begins with the time it was made: only the addresses are compared.
        if (path == KORV_AUTOBLOCK_LIST)
            for (size_t at = 0; at + KORV_AUTOBLOCK_REC_SIZE <= n.data.size(); at += KORV_AUTOBLOCK_REC_SIZE)
                n.data.replace(at, 4, 4, '\0');
    } else {
        return;
    }
    out[path] = n;
}

}  // namespace

Picture picture_of(const std::vector<std::string> &roots)
{
    Picture p;
    for (const std::string &root : roots)
        take(root, p);
    return p;
}

Picture unit_picture()
{
    return picture_of({std::begin(kUnitRoots), std::end(kUnitRoots)});
}

void restore(const Picture &p)
{
    restore(p, {std::begin(kUnitRoots), std::end(kUnitRoots)});
}

void restore(const Picture &p, const std::vector<std::string> &roots)
{
    for (const std::string &root : roots)
        korvtest::remove_tree(root);
    // Folders come before what they hold in the map's order; their modes are set last.
    for (const auto &[path, n] : p) {
        if (n.kind == 'd')
            korvtest::make_dirs(path);
        else if (n.kind == 'l')
            ASSERT_EQ(symlink(n.data.c_str(), path.c_str()), 0) << path;
        else
            write_file(path, n.data, n.mode);
        ASSERT_EQ(lchown(path.c_str(), n.uid, n.gid), 0) << path;
    }
    for (const auto &[path, n] : p) {
        if (n.kind != 'l') {
            ASSERT_EQ(chmod(path.c_str(), n.mode), 0) << path;
        }
    }
}

std::string differences(const Picture &want, const Picture &got)
{
    std::ostringstream out;
    for (const auto &[path, n] : want) {
        auto it = got.find(path);
        if (it == got.end())
            out << "missing: " << path << "\n";
        else if (!(it->second == n))
            out << "differs: " << path << "\n--- wanted (mode " << std::oct << n.mode << std::dec << ")\n"
                << (n.data.size() < 2000 ? n.data : "<long>") << "\n--- got (mode " << std::oct << it->second.mode
                << std::dec << ")\n" << (it->second.data.size() < 2000 ? it->second.data : "<long>") << "\n";
    }
    for (const auto &[path, n] : got)
        if (!want.count(path))
            out << "extra: " << path << "\n";
    return out.str();
}

}  // namespace updatertest
