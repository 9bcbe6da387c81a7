// The collation locale: nothing in this library sets it, so it stays "" (ICU's root locale).
#include <string.h>

#include <unicode/uloc.h>

#include "korv_internal.h"
#include "korv/unicode.h"

namespace {

char gszCollLocale[ULOC_FULLNAME_CAPACITY] = "";
int gfCollLocaleValid = 0;

constexpr const char *kSupportedLocales[] = {
    "", "de_DE", "en_US", "es_ES", "fr_FR", "it_IT", "ja_JP", "ko_KR", "pt_BR", "zh__PINYIN", "zh_TW_STROKE",
};

}  // namespace

extern "C" int KORLUnicodeGetLocale(int recheck, const char **ppLocale)
{
    if (!ppLocale) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    *ppLocale = gszCollLocale;
    if (gfCollLocaleValid && !recheck)
        return 1;
    for (const char *name : kSupportedLocales) {
        if (strcmp(gszCollLocale, name) == 0) {
            gfCollLocaleValid = 1;
            return 1;
        }
    }
    KORV_ERR(KORL_ERR_NOT_FOUND);
    return -1;
}
