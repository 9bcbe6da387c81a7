#include "korv_guard.h"
#include "user_internal.h"

extern "C" int KORVUserDBCheckAndRebuild(KORVUSERDB **ppSet)
{
    return KORV_GUARDED(-1, { return korv::bdb::SetCheck(korv::user::kUserSet, reinterpret_cast<void **>(ppSet)); });
}
