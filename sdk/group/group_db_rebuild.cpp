#include "group_internal.h"
#include "korv_guard.h"

extern "C" int KORVGroupDBRebuild(void)
{
    return KORV_GUARDED(-1, { return korv::bdb::SetRebuild(korv::group::kGroupSet); });
}
