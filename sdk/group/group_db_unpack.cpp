#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "group_internal.h"
#include "korv_fields.h"
#include "korv_guard.h"
#include "korv_internal.h"

extern "C" int KORVGroupDBUnpack(const char *line, KORVGROUP **pp)
{
    return KORV_GUARDED(-1, {
        if (!line || !pp) {
            KORV_ERR(KORL_ERR_BAD_PARAM);
            return -1;
        }
        std::string_view f[4];
        if (!korv::AccountFields(line, 4, f)) {
            KORV_ERR(KORL_ERR_MALFORMED);
            return -1;
        }
        if (f[0].empty()) {
            KORV_ERR(KORV_ERR_GROUP_INVALID_NAME);
            return -1;
        }
        std::vector<std::string> members = korv::SplitList(f[3], ',');
        std::vector<char *> array;
        for (std::string &m : members)
            array.push_back(m.data());
        array.push_back(nullptr);
        if (KORVGroupAlloc2(pp, std::string(f[0]).c_str(), korv::FieldInt(f[2]), array.data()) != 0) {
            KORV_LOG("KORVGroupAlloc2 failed. korverr=0x%04X", KORLErrGet());
            return -1;
        }
        return 0;
    });
}
