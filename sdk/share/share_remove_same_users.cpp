#include <string.h>

#include <string>

#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"
#include "korv_sz_holders.h"
#include "share_internal.h"

namespace korv::share {

int RemoveSameUsers(char *szUserList)
{
    return KORV_GUARDED(-1, {
        if (!szUserList) {
            KORV_LOG("szUserList is NULL!!\n");
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        if (!*szUserList)
            return 0;
        korv::HashHolder names(PshKORLSzHashAlloc(1024));
        if (!names)
            return -1;
        for (const std::string &item : korv::SplitList(szUserList, ',')) {
            if (!item.empty() && KORLSzHashSetValue(names.addr(), item.c_str(), "1") < 0)
                return -1;
        }
        // The hash's slot order, never longer than the input.
        std::string out;
        for (int i = 0; i < names.get()->nSlot; i++) {
            if (const char *key = SzKORLSzHashSlotKey(names.get(), i)) {
                if (!out.empty())
                    out += ',';
                out += key;
            }
        }
        memcpy(szUserList, out.c_str(), out.size() + 1);
        return 1;
    });
}

}  // namespace korv::share
