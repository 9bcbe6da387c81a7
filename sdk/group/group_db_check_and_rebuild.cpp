#include "group_internal.h"
#include "korv_guard.h"

extern "C" int KORVGroupDBCheckAndRebuild(KORVGROUPDB **ppSet)
{
    return KORV_GUARDED(-1, { return korv::bdb::SetCheck(korv::group::kGroupSet, reinterpret_cast<void **>(ppSet)); });
}
