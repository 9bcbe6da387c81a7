#include <unicode/ucnv.h>

#include "korv_internal.h"
#include "korv/unicode.h"

namespace {

struct ConverterName {
    int index;
    const char *name;
};

// Converter names by index: 2-17 Windows and DOS, 18-33 their Macintosh counterparts.
constexpr ConverterName kConverters[] = {
    {0, "UTF-8"},
    {1, "UTF-16"},
    {2, "korv_win_english"},
    {3, "korv_win_greek"},
    {4, "korv_win_westeuro"},
    {5, "korv_win_latin2"},
    {6, "korv_win_turkish"},
    {7, "korv_win_icelandic"},
    {8, "korv_win_cyrillic"},
    {9, "korv_win_japanese"},
    {10, "korv_win_chinsimp"},
    {11, "korv_win_korean"},
    {12, "korv_win_chintrad"},
    {13, "korv_win_easteuro_1250"},
    {14, "korv_win_cyrillic_1251"},
    {15, "korv_win_westeuro_1252"},
    {16, "korv_win_greek_1253"},
    {17, "korv_win_turkish_1254"},
    {18, "korv_mac_eng_euro"},
    {19, "korv_mac_greek"},
    {20, "korv_mac_eng_euro"},
    {21, "korv_mac_eng_euro"},
    {22, "korv_mac_turkish"},
    {23, "korv_mac_eng_euro"},
    {24, "korv_mac_cyrillic"},
    {25, "korv_mac_japanese"},
    {26, "korv_mac_chinsimp"},
    {27, "korv_mac_korean"},
    {28, "korv_mac_chintrad"},
    {29, "korv_mac_eng_euro"},
    {30, "korv_mac_cyrillic"},
    {31, "korv_mac_eng_euro"},
    {32, "korv_mac_greek"},
    {33, "korv_mac_turkish"},
    {-1, nullptr},
};

// One slot per index, even where indexes share a converter name; opened once, never closed.
UConverter *gConverterCache[KORL_CP_INDEX_MAX + 1];

}  // namespace

extern "C" UConverter *KORLUnicodeOpenConvertor(int index)
{
    if (static_cast<unsigned>(index) > KORL_CP_INDEX_MAX) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    if (gConverterCache[index])
        return gConverterCache[index];
    const char *name = nullptr;
    for (const ConverterName *e = kConverters; e->name; ++e) {
        if (e->index == index) {
            name = e->name;
            break;
        }
    }
    UErrorCode st = U_ZERO_ERROR;
    gConverterCache[index] = name ? ucnv_open(name, &st) : nullptr;
    if (!gConverterCache[index]) {
        KORV_ERR(KORL_ERR_OPEN);
        return nullptr;
    }
    return gConverterCache[index];
}
