#include <strings.h>

#include "korv_internal.h"
#include "korv/unicode.h"

namespace {

struct LangCodePage {
    const char *code;
    int ansiIndex;
    int oemIndex;
};

// The device's language settings and their converter indexes (the Macintosh one is ANSI + 16).
constexpr LangCodePage kLangCodePages[] = {
    {"utf8", 0, 0},   {"enu", 15, 2},  {"fre", 15, 4},  {"ger", 15, 4},  {"ita", 15, 4},  {"spn", 15, 4},
    {"cht", 12, 12},  {"chs", 10, 10}, {"jpn", 9, 9},   {"krn", 11, 11}, {"ptb", 15, 4},  {"rus", 14, 8},
    {"dan", 15, 4},   {"nor", 15, 4},  {"sve", 15, 4},  {"nld", 15, 4},  {"plk", 13, 5},  {"ptg", 15, 4},
    {"hun", 13, 5},   {"trk", 17, 6},  {"csy", 13, 5},  {nullptr, 0, 0},
};

}  // namespace

extern "C" int KORLUnicodeCodePageValueParse(int kind, const char *code)
{
    if (!code) {
        KORV_LOG("Bad parameter (%d).", kind);
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    for (const LangCodePage *e = kLangCodePages; e->code; ++e) {
        if (strcasecmp(e->code, code) != 0)
            continue;
        switch (kind) {
        case KORL_CP_KIND_ANSI:
        case KORL_CP_KIND_MEDIASERVICE:
            return e->ansiIndex;
        case KORL_CP_KIND_OEM:
            return e->oemIndex;
        case KORL_CP_KIND_MAC:
            // UTF-8 has no Macintosh counterpart: index 0 + 16 would name a Windows code page.
            return e->ansiIndex == KORL_CP_INDEX_UTF8 ? KORL_CP_INDEX_UTF8 : e->ansiIndex + KORL_CP_MAC_OFFSET;
        default:
            KORV_LOG("Bad parameter (%d).", kind);
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
    }
    return -1;
}
