#include "korv_internal.h"
#include "share_internal.h"

extern "C" int KORVShareDBEnumTypeMatched(const KORVSHARE *share, int kindMask)
{
    if (!share || !share->szName || kindMask < 1 || kindMask > 7) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    bool usb = KORVShareIsUsbShare(share->szName), sata = KORVShareIsSataShare(share->szName);
    if (((kindMask & KORV_SHARE_KIND_USB) && usb) || ((kindMask & KORV_SHARE_KIND_SATA) && sata) ||
        ((kindMask & KORV_SHARE_KIND_ORDINARY) && !usb && !sata))
        return 0;
    return -1;
}

namespace korv::share {

int ShareEnumFilter(const KORVSHAREENUMCB *, const KORVSHARE *share, int kindMask)
{
    return KORVShareDBEnumTypeMatched(share, kindMask);
}

}  // namespace korv::share
