// Whether the unpacked package suits this unit: a well-formed package of the same model, newer
// than the installed firmware, of a known major version, with room to unpack. Also decides the
// old layout, the flash-directory recovery and the driver buffer of the run.
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <syslog.h>

#include <string>

#include "korv/file.h"
#include "updater.h"
#include "updater_migration.h"

namespace {

const char kInstalledVersion[] = "/etc.defaults/VERSION";
const char kFactorySettings[] = "/etc.defaults/korvinfo.conf";

// A version file's keys, each read into a buffer of its own size.
struct Version {
    char unique[33] = {};
    char major[5] = {};
    char minor[5] = {};
    char phase[17] = {};
    char build[9] = {};
};

bool Read(const char *path, const char *key, char *buf, int size)
{
    return KORLFileGetKeyValue(path, key, buf, size, 0) > 0;
}

// The old layout keeps "defaultfs" in the settings and needs room on "/writeable". 0 or the code.
int CheckOldLayout(const char *func)
{
    char value[80] = {};
    if (!Read(KORV_INFO_CONF, "defaultfs", value, sizeof value)) {
        syslog(LOG_ERR, "%s:%d(%s): can not get [%s] in [%s]", UPDT_SOURCE, __LINE__, func, "defaultfs",
               KORV_INFO_CONF);
        if (!Read(kFactorySettings, "defaultfs", value, sizeof value)) {
            syslog(LOG_ERR, "%s:%d(%s): can not get [%s] in [%s]", UPDT_SOURCE, __LINE__, func, "defaultfs",
                   kFactorySettings);
            strcpy(value, "reiserfs");
        }
        // Other programs edit the settings too: written under their lock.
        if (KORVINFOSetKeyValue("defaultfs", value) != 0) {
            syslog(LOG_ERR, "%s:%d(%s): can not set [%s=%s] to %s", UPDT_SOURCE, __LINE__, func, "defaultfs", value,
                   KORV_INFO_CONF);
            return UPDT_ERR_DEFAULTFS;
        }
    }
    struct statfs64 fs {};
    if (statfs64("/writeable", &fs) == 0) {
        uint64_t freeBytes = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_bsize);
        if ((freeBytes >> 20) < 2)
            return UPDT_ERR_SPACE;
    }
    return 0;
}

}  // namespace

int ErrUPDTIAnalyze_WholeSystem(void)
{
    const char *func = __func__;
    std::string package = std::string(gszWorkDir) + "/VERSION";
    const char *path = package.c_str();

    struct stat st {};
    if (stat(path, &st) != 0 || st.st_size <= 0 || (st.st_mode & 0xF100) != 0x8100) {
        syslog(LOG_ERR, "%s(%d): the file [%s]", func, __LINE__, path);
        return UPDT_ERR_READ_PATCH_VER;
    }

    Version org;
    if (!Read(kFactorySettings, "unique", org.unique, sizeof org.unique))
        return UPDT_ERR_READ_MOD;
    if (!Read(kInstalledVersion, "majorversion", org.major, sizeof org.major)) {
        syslog(LOG_ERR, "%s(%d): fail to read major version", func, __LINE__);
        return UPDT_ERR_READ_VER;
    }
    if (!Read(kInstalledVersion, "minorversion", org.minor, sizeof org.minor)) {
        syslog(LOG_ERR, "%s(%d): fail to read minor version", func, __LINE__);
        return UPDT_ERR_READ_VER;
    }
    if (!Read(kInstalledVersion, "buildphase", org.phase, sizeof org.phase)) {
        syslog(LOG_ERR, "%s(%d): fail to read buildphase", func, __LINE__);
        return UPDT_ERR_READ_VER;
    }
    if (!Read(kInstalledVersion, "buildnumber", org.build, sizeof org.build)) {
        syslog(LOG_ERR, "%s(%d): fail to read buildnumber", func, __LINE__);
        return UPDT_ERR_READ_VER;
    }
    int orgMajor = static_cast<int>(strtol(org.major, nullptr, 10));
    int orgBuild = static_cast<int>(strtol(org.build, nullptr, 10));
    if (orgMajor == 0 || orgBuild == 0) {
        syslog(LOG_ERR, "%s(%d): buildnumber or major version == 0", func, __LINE__);
        return UPDT_ERR_READ_VER;
    }

    Version pkg;
    char extract[128] = {};
    if (!Read(path, "unique", pkg.unique, sizeof pkg.unique))
        return UPDT_ERR_READ_PATCH_MOD;
    if (!Read(path, "majorversion", pkg.major, sizeof pkg.major)) {
        syslog(LOG_ERR, "%s(%d): fail to read new major version", func, __LINE__);
        return UPDT_ERR_READ_PATCH_VER;
    }
    if (!Read(path, "minorversion", pkg.minor, sizeof pkg.minor)) {
        syslog(LOG_ERR, "%s(%d): fail to read new minor version", func, __LINE__);
        return UPDT_ERR_READ_PATCH_VER;
    }
    if (!Read(path, "buildphase", pkg.phase, sizeof pkg.phase)) {
        syslog(LOG_ERR, "%s(%d): fail to read new build phase", func, __LINE__);
        return UPDT_ERR_READ_PATCH_VER;
    }
    if (!Read(path, "buildnumber", pkg.build, sizeof pkg.build)) {
        syslog(LOG_ERR, "%s(%d): fail to read new build number", func, __LINE__);
        return UPDT_ERR_READ_PATCH_VER;
    }
    if (!Read(path, "extractsize", extract, sizeof extract)) {
        syslog(LOG_ERR, "%s(%d): fail to get patch size", func, __LINE__);
        return UPDT_ERR_READ_PATCH_VER;
    }
    int newMajor = static_cast<int>(strtol(pkg.major, nullptr, 10));
    int newBuild = static_cast<int>(strtol(pkg.build, nullptr, 10));
    int64_t extractKiB = strtoll(extract, nullptr, 10);
    if (newMajor == 0 || newBuild == 0) {
        syslog(LOG_ERR, "%s(%d): buildnumber or major version == 0", func, __LINE__);
        return UPDT_ERR_READ_PATCH_VER;
    }

    if (orgMajor <= 1 || newMajor <= 1) {
        syslog(LOG_ERR, "%s:%d orgMajorVersion=%d", UPDT_SOURCE, __LINE__, orgMajor);
        return UPDT_ERR_PATCH;
    }
    if (orgBuild >= newBuild) {
        syslog(LOG_ERR, "%s(%d): orgBuildNumber = %d, newBuildNumber=%d", func, __LINE__, orgBuild, newBuild);
        return UPDT_ERR_VERSION;
    }
    if (!org.unique[0] || !pkg.unique[0] || strncasecmp(org.unique, pkg.unique, 32) != 0) {
        syslog(LOG_ERR, "%s(%d): szOrgCompany = [%s], szNewCompany=[%s]", func, __LINE__, org.unique, pkg.unique);
        return UPDT_ERR_COMPANY;
    }

    // The analysis' own rows of the migration table, each in its turn: the old layout's checks
    // end the run before the others are decided.
    UPDTFLAGINPUT in{orgBuild, org.unique, pkg.unique, gfJunior};
    UPDTDecideFlag(&UPDTFLAGS::gfOldLayout, in);
    if (gUPDTFlags.gfOldLayout)
        if (int code = CheckOldLayout(func))
            return code;
    // The others, the configuration steps of every update among them, whichever the environment.
    UPDTDecideMigrations(UPDT_BY_ANALYSIS, in, &UPDTFLAGS::gfOldLayout);

    if (!UPDTCheckSysPartitionSize(extractKiB)) {
        UPDTSetExtraMessage("System volume is insufficient to extract upgrade patch, please backup all files and "
                            "restore to factory default.");
        return UPDT_ERR_SPACE;
    }
    if (!gfInstaller)
        UPDTSetUpgradeFlags(orgBuild);
    UPDTLogFormat("Upgrade from version %s.%s.%s.%s to version %s.%s.%s.%s", org.major, org.minor, org.phase,
                  org.build, pkg.major, pkg.minor, pkg.phase, pkg.build);
    return 0;
}
