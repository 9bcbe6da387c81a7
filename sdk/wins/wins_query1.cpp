#include <string.h>
#include <strings.h>

#include "korv/file.h"
#include "korv/hash.h"
#include "korv/wins.h"
#include "korv_internal.h"
#include "korv_settings.h"
#include "korv_sz_holders.h"

extern "C" int KORVWinsQuery1(char *name, int nameSize, int *domainMode, int *sambaRunning)
{
    if (!name || nameSize <= 0 || !domainMode) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    korv::HashHolder keys(PshKORLSzHashAlloc(0));
    if (!keys)
        return -1;
    if (KORLFileGetSection(KORV_SMB_CONF, "global", keys.addr()) < 0) {
        KORV_LOG("KORLFileGetSection failed [%X]!!", KORLErrGet());
        return -1;
    }
    const char *security = SzKORLSzHashGetValue(keys.get(), "security");
    if (!security) {
        KORV_LOG("key [security] not found or error!!");
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return -1;
    }
    bool ads = strcmp(security, "ads") == 0;
    const char *key = ads ? "realm" : "workgroup";
    const char *value = SzKORLSzHashGetValue(keys.get(), key);
    if (!value) {
        KORV_LOG("key [%s] not found or error!!", key);
        KORV_ERR(KORL_ERR_NOT_FOUND);
        return -1;
    }
    memset(name, 0, static_cast<size_t>(nameSize));
    strncpy(name, value, static_cast<size_t>(nameSize) - 1);
    *domainMode = ads || strcmp(security, "domain") == 0 ? 1 : 0;
    if (sambaRunning)
        *sambaRunning = SambaIsRunning();
    return 0;
}

extern "C" int SambaIsRunning(void)
{
    // The run flag waits up to 10 seconds for the settings' lock; no lock reads as not running.
    char value[20] = "";
    int r = korv::LockedSettings::GetOne("runsamba", value, sizeof value, 10);
    return r > 0 && strcasecmp(value, "yes") == 0 ? 1 : 0;
}
