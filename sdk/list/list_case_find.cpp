#include "korv_internal.h"
#include "list_internal.h"

extern "C" int KORLSzListCaseFind(PKORLSZLIST list, const char *s)
{
    if (!list || !s || list->sortMode == KORL_SZLIST_SORT) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return korv::list::Search(list, s, true);
}
