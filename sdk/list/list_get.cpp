#include "korv_internal.h"
#include "list_internal.h"

extern "C" char *SzKORLSzListGet(PKORLSZLIST list, int index)
{
    if (!list || index < 0 || index >= list->nItem) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    return korv::list::Item(list, index);
}
