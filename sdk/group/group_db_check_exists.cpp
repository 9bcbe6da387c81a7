#include "group_internal.h"
#include "korv_bdb.h"
#include "korv_internal.h"

extern "C" int KORVGroupDBCheckExists(KORVGROUPDB *set, const char *upperName, int upperLen, char *outName, int outSize)
{
    if (!set || !upperName || upperLen < 0 || (!outName && outSize != 0)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return 0;
    }
    const void *data;
    int len;
    int r = korv::bdb::Lookup(set->pGRPName, upperName, upperLen + 1, &data, &len);
    if (r != 0) {
        if (r > 0)
            KORV_ERR(KORV_ERR_GROUP_NOT_FOUND);
        return 0;
    }
    if (!outName)
        return 1;
    const char *line = static_cast<const char *>(data);
    for (int i = 0; i < outSize; i++) {
        if (i >= len || line[i] == '\0') {
            outName[0] = '\0';
            KORV_ERR(KORL_ERR_MALFORMED);
            return 0;
        }
        if (line[i] == ':') {
            outName[i] = '\0';
            return 1;
        }
        outName[i] = line[i];
    }
    // The name does not fit: nothing half-copied is left behind.
    if (outSize > 0)
        outName[0] = '\0';
    return 0;
}
