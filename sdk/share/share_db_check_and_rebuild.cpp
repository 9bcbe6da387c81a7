#include "korv_guard.h"
#include "share_internal.h"

extern "C" int KORVShareDBCheckAndRebuild(KORVSHAREDB **db)
{
    return KORV_GUARDED(-1, { return korv::bdb::SetCheck(korv::share::kShareSet, reinterpret_cast<void **>(db)); });
}
