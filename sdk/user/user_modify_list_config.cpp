#include <string.h>

#include <string>
#include <vector>

#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "user_internal.h"

using namespace korv::user;

extern "C" int KORVUserModifyListConfig(const char *list, char **ppOut, int *pcbOut, PKORLSZHASH renames)
{
    return KORV_GUARDED(-1, {
        if (!list || !ppOut || !pcbOut || !renames) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        auto unchanged = [&] {
            *ppOut = const_cast<char *>(list);
            *pcbOut = static_cast<int>(strlen(list)) + 1;
            return 0;
        };
        if (!*list)
            return unchanged();
        std::vector<std::string> items = korv::SplitList(list, ',');
        bool changed = false;
        std::string key;
        for (std::string &item : items) {
            if (item.empty())
                continue;
            if (UpperKey(item.c_str(), key, 493) != 0) {
                KORV_LOG("KORLUnicodeUTF8StrUpper failed [%s]", item.c_str());
                return -1;
            }
            if (const char *to = SzKORLSzHashGetValue(renames, key.c_str())) {
                item = to;
                changed = true;
            }
        }
        if (!changed)
            return unchanged();
        // Measured after the renames; empty items, users renamed to "" among them, vanish.
        std::string out;
        for (const std::string &item : items) {
            if (!item.empty())
                out += (out.empty() ? "" : ",") + item;
        }
        if (out.size() >= 0x7fffffff) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        void *buf = *ppOut;
        if (KORVCheckAndRealloc(&buf, pcbOut, static_cast<int>(out.size()) + 1) != 0) {
            *ppOut = static_cast<char *>(buf);
            KORV_LOG("KORVCheckAndRealloc() failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        *ppOut = static_cast<char *>(buf);
        memcpy(*ppOut, out.c_str(), out.size() + 1);
        return 1;
    });
}
