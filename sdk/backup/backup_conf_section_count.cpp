#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include "korv/backup.h"
#include "korv/file.h"
#include "korv_internal.h"
#include "korv_rewrite.h"
#include "korv_unique.h"

extern "C" int KORVBackupConfSectionCount(const char *path)
{
    if (!path) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    struct stat st;
    if (stat(path, &st) != 0)
        return 0;
    korv::UniqueFile fp(fopen(path, "r"));
    if (!fp) {
        KORV_ERR(KORL_ERR_OPEN);
        return -1;
    }
    korv::LineReader lines(fp.get());
    int count = 0;
    while (lines.Next()) {
        if (KORLFileIsSection(lines.data(), static_cast<int>(lines.size())))
            ++count;
    }
    if (lines.Failed()) {
        KORV_ERR(KORL_ERR_READ);
        return -1;
    }
    return count;
}
