// String lists to and from std::vector for the tests.
#pragma once

#include <string>
#include <vector>

#include "korv/list.h"

namespace korvtest {

inline PKORLSZLIST list_of(const std::vector<std::string> &items)
{
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    for (const std::string &s : items)
        KORLSzListPush(&list, s.c_str());
    return list;
}

inline std::vector<std::string> items_of(PKORLSZLIST list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list->nItem; ++i)
        out.push_back(SzKORLSzListGet(list, i));
    return out;
}

}  // namespace korvtest
