// shadow-utils' checkers over the tree's account files, on a unit as the device has it.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "korv/user.h"
#include "korvtest.h"

namespace updatertest {

// pwck and grpck read "/etc/passwd", "/etc/shadow" and "/etc/group" without a complaint. The
// unit has the accounts' shells and home folders (the user module makes those).
inline void expect_checkers_accept()
{
    korvtest::install_program("/sbin/nologin", "#!/bin/sh\nexit 1\n");
    std::istringstream passwd(korvtest::read_file(KORV_PASSWD_FILE));
    for (std::string line; std::getline(passwd, line);) {
        size_t shell = line.rfind(':');
        size_t home = shell == std::string::npos || shell == 0 ? std::string::npos : line.rfind(':', shell - 1);
        if (home != std::string::npos && shell > home + 1)
            korvtest::make_dirs(line.substr(home + 1, shell - home - 1));
    }
    std::string out;
    EXPECT_EQ(0, korvtest::run_shell("pwck -r /etc/passwd /etc/shadow 2>&1", &out)) << out;
    EXPECT_EQ(0, korvtest::run_shell("grpck -r /etc/group 2>&1", &out)) << out;
}

}  // namespace updatertest
