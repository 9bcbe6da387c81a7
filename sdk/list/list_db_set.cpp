#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "list_internal.h"

extern "C" int KORVListDBSet(KORVBDB *store, const char *section, PKORLSZLIST list)
{
    if (!store || !section || !list) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return -1;
    }
    size_t n = strlen(section);
    korv::MallocPtr<char> key(static_cast<char *>(malloc(n + 2)));
    if (!key) {
        KORV_ERR(KORL_ERR_NO_MEMORY);
        return -1;
    }
    key.get()[0] = '#';
    for (size_t i = 0; i < n; i++)
        key.get()[i + 1] = static_cast<char>(toupper(static_cast<unsigned char>(section[i])));
    key.get()[n + 1] = '\0';

    korv::MallocPtr<void> packed(KORVListDBPack(list, list->cbSize));
    if (!packed) {
        syslog(LOG_ERR, "%s (%d): errno=%d, KORVListDBPack() failed, section[%s]\n", __FILE_NAME__, __LINE__,
               KORLErrGet(), section);
        return -1;
    }
    if (KORVBDbSet(store, key.get(), static_cast<int>(n + 2), packed.get(), list->cbSize) != 0) {
        syslog(LOG_ERR, "%s (%d): errno=%d, KORVBDbSet() failed, section[%s]\n", __FILE_NAME__, __LINE__,
               KORLErrGet(), section);
        return -1;
    }
    return 0;
}
