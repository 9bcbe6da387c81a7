// What the network tests share: error marks, readable case names and record builders.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/error.h"
#include "korv/net.h"

namespace nettest {

using korvtest::kUntouched;
using korvtest::label;
using korvtest::mark_error;

// A zero-filled bond record, as callers build one.
inline KORVNETLINKAGGR bond_record(const char *bond, int mode, const std::vector<std::string> &slaves)
{
    KORVNETLINKAGGR r;
    memset(&r, 0, sizeof r);
    strncpy(r.szBond, bond, sizeof r.szBond - 1);
    r.mode = mode;
    r.nSlave = static_cast<int>(slaves.size());
    for (size_t i = 0; i < slaves.size() && i < 8; ++i)
        strncpy(r.szSlave[i], slaves[i].c_str(), sizeof r.szSlave[i] - 1);
    return r;
}

inline std::vector<std::string> slaves_of(const KORVNETLINKAGGR &r)
{
    std::vector<std::string> out;
    for (int i = 0; i < r.nSlave && i < 8; ++i)
        out.emplace_back(r.szSlave[i], strnlen(r.szSlave[i], sizeof r.szSlave[i]));
    return out;
}

}  // namespace nettest
