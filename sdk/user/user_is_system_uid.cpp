// Which accounts are the system's own.
#include "korv_internal.h"
#include "user_internal.h"

namespace korv::user {

bool IsSystemUid(int uid)
{
    unsigned limit = KORVGuestSupport() ? KORV_USER_UID_GUEST : KORV_USER_UID_FIRST;
    return static_cast<unsigned>(uid) <= limit;
}

}  // namespace korv::user
