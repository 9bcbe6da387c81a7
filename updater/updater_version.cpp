// Comparing two dotted version texts field by field ("2.0.1", "2.rc", "3.beta.2").
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "updater.h"

namespace {

// A field's rank: its number, or for a text without one its release stage.
long FieldValue(const char *field)
{
    long value = strtol(field, nullptr, 10);
    if (value != 0)
        return value;
    if (strcasecmp(field, "alpha") == 0)
        return -30;
    if (strcasecmp(field, "beta") == 0)
        return -20;
    if (strcasecmp(field, "rc") == 0)
        return -10;
    return 0;
}

// Cuts the field at *at and moves past its "."; null when no "." follows.
char *NextField(char **at)
{
    char *dot = strchr(*at, '.');
    if (!dot)
        return nullptr;
    *dot = '\0';
    return dot + 1;
}

}  // namespace

int UPDTCompareVersion(const char *a, const char *b)
{
    if (!a || !b)
        return 0;
    if (!*a && *b)
        return -1;
    if (*a && !*b)
        return 1;
    // At most 31 characters of each take part.
    char bufA[32], bufB[32];
    snprintf(bufA, sizeof bufA, "%s", a);
    snprintf(bufB, sizeof bufB, "%s", b);
    char *fa = bufA, *fb = bufB;
    for (;;) {
        char *restA = NextField(&fa);
        char *restB = NextField(&fb);
        long va = FieldValue(fa), vb = FieldValue(fb);
        if (va != vb)
            return va > vb ? 1 : -1;
        if (restA && *restA) {
            if (!restB)
                return 1;
            fa = restA;
            fb = restB;
            continue;
        }
        // a has no further field.
        if (!restB || !*restB)
            return 0;
        if (!restA)
            return -1;
        fa = restA;  // the empty field after a's final "."
        fb = restB;
    }
}
