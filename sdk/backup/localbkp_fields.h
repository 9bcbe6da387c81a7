// The keys of a local set, where its record holds them, and the words of its destinations.
#pragma once

#include <stddef.h>

#include <iterator>

#include "backup_internal.h"

namespace korv::backup {

// In the order the writer puts them.
inline constexpr TextField kLocalTexts[] = {
    {"dest_share", offsetof(KORVLOCALBKPCONF, dest_share)},
    {"bkp_shares", offsetof(KORVLOCALBKPCONF, bkp_shares)},
    {"bkp_apps", offsetof(KORVLOCALBKPCONF, bkp_apps)},
    {"last_bkp_time", offsetof(KORVLOCALBKPCONF, last_bkp_time)},
    {"last_bkp_result", offsetof(KORVLOCALBKPCONF, last_bkp_result)},
    {"dest_id", offsetof(KORVLOCALBKPCONF, dest_id)},
};

// Destination number i is stored as kDestWords[i].
inline constexpr const char *kDestWords[] = {"internal", "usb", "esata", "usbbkp", "esatabkp"};

}  // namespace korv::backup
