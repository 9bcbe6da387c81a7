#include <stdlib.h>

#include "korv/backup.h"
#include "korv_internal.h"

extern "C" void KORVBackupConfFreeAll(void **array, int count, int kind)
{
    if (!array || count <= 0)
        return;
    if (kind == BACKUP_TYPE_NETBKP)
        KORVNetBkpConfArrayFree(reinterpret_cast<KORVNETBKPCONF **>(array), count);
    else if (kind == BACKUP_TYPE_LOCALBKP)
        KORVLocalBkpConfArrayFree(reinterpret_cast<KORVLOCALBKPCONF **>(array), count);
    else
        KORV_LOG("Failed to free backup conf struct due to bad backup type [%d]!", kind);
}

extern "C" void KORVNetBkpConfArrayFree(KORVNETBKPCONF **array, int count)
{
    if (!array || count <= 0)
        return;
    for (int i = 0; i < count; ++i) {
        KORVNetBkpConfFree(array[i]);
        array[i] = nullptr;
    }
    free(array);
}

extern "C" void KORVLocalBkpConfArrayFree(KORVLOCALBKPCONF **array, int count)
{
    if (!array || count <= 0)
        return;
    for (int i = 0; i < count; ++i) {
        KORVLocalBkpConfFree(array[i]);
        array[i] = nullptr;
    }
    free(array);
}
