// Keys and stored lines of the user stores.
#include <stdio.h>
#include <string.h>

#include "korv/unicode.h"
#include "korv_bdb.h"
#include "korv_internal.h"
#include "user_internal.h"

namespace korv::user {

std::string UidKey(int uid)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%06d", uid);
    return buf;
}

bool IsSystemUid(int uid)
{
    unsigned limit = KORVGuestSupport() ? KORV_USER_UID_GUEST : KORV_USER_UID_FIRST;
    return static_cast<unsigned>(uid) <= limit;
}

}  // namespace korv::user
