// Replacing a section's keys, under its old or a new name; its comment lines stay.
#include "korv/file.h"
#include "korv_internal.h"

extern "C" int ErrKORLFileSetSection(const char *path, const char *oldName, const char *newName, PKORLSZHASH hash,
                                     const char *format)
{
    if (!hash) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    return KORLFileModifySection(path, oldName, newName, hash, 1, format);
}
