// The keys of a network set and where its record holds them.
#pragma once

#include <stddef.h>

#include <iterator>

#include "backup_internal.h"

namespace korv::backup {

inline constexpr TextField kNetTexts[] = {
    {"bkp_server", offsetof(KORVNETBKPCONF, bkp_server)},
    {"bkp_ip", offsetof(KORVNETBKPCONF, bkp_ip)},
    {"bkp_auth_user", offsetof(KORVNETBKPCONF, bkp_auth_user)},
    {"server_pass", offsetof(KORVNETBKPCONF, server_pass)},
    {"last_bkp_time", offsetof(KORVNETBKPCONF, last_bkp_time)},
    {"bkp_module", offsetof(KORVNETBKPCONF, bkp_module)},
    {"server_pass2", offsetof(KORVNETBKPCONF, server_pass2)},
    {"bkp_shares", offsetof(KORVNETBKPCONF, bkp_shares)},
    {"bkp_apps", offsetof(KORVNETBKPCONF, bkp_apps)},
};

// In the order the writer puts them after the texts.
inline constexpr IntField kNetInts[] = {
    {"last_bkp_status", offsetof(KORVNETBKPCONF, last_bkp_status), -1},
    {"ssh", offsetof(KORVNETBKPCONF, ssh), 0},
    {"server_type", offsetof(KORVNETBKPCONF, server_type), 1},
    {"blockbkp", offsetof(KORVNETBKPCONF, blockbkp), 0},
    {"incrbkp", offsetof(KORVNETBKPCONF, incrbkp), 0},
};

}  // namespace korv::backup
