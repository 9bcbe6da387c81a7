#include "korv_internal.h"
#include "list_internal.h"

using namespace korv::list;

extern "C" int KORLSzListBinarySearch(PKORLSZLIST list, int hi, int lo, const char *s, int caseless)
{
    if (!list || !s) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    if (hi == -1)
        return -1;
    if (lo <= hi && (lo < 0 || hi >= list->nItem)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = Compare(s, Item(list, mid), caseless != 0);
        if (caseless && c == -2)
            return ~lo;
        if (c < 0)
            hi = mid - 1;
        else if (c > 0)
            lo = mid + 1;
        else
            return mid;
    }
    return ~lo;
}
