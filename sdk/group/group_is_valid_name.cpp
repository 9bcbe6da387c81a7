#include <string.h>

#include "korv/group.h"
#include "korv_name_rule.h"

extern "C" int KORVGroupIsValidName(const char *name)
{
    return korv::NameRuleOk(name, KORV_GROUP_NAME_MAX) ? 1 : 0;
}

extern "C" int GroupNameTypeGet(const char *name)
{
    if (!name)
        return 0;
    return strchr(name, '\\') ? KORV_GROUP_TYPE_DOMAIN : KORV_GROUP_TYPE_LOCAL;
}
