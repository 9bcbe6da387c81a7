#include <unicode/ucol.h>

#include "korv_internal.h"
#include "korv/unicode.h"

namespace {

// Opened once and kept for the life of the process.
UCollator *gpCollator = nullptr;

}  // namespace

extern "C" UCollator *KORLUnicodeOpenCollator(void)
{
    if (gpCollator)
        return gpCollator;
    const char *locale = nullptr;
    if (KORLUnicodeGetLocale(0, &locale) < 0)
        return nullptr;
    UErrorCode st = U_ZERO_ERROR;
    gpCollator = ucol_open(locale, &st);
    if (!gpCollator) {
        KORV_ERR(KORL_ERR_OPEN);
        return nullptr;
    }
    return gpCollator;
}
