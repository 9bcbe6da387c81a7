#include "korv_guard.h"
#include "user_internal.h"

extern "C" int KORVUserDBRebuild(void)
{
    return KORV_GUARDED(-1, { return korv::bdb::SetRebuild(korv::user::kUserSet); });
}
