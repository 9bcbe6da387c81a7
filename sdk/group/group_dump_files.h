// The two files the group dump publishes, with their temporary names.
#pragma once

#include "korv_account_rewrite.h"
#include "group_internal.h"

namespace korv::group {

// In the order they are written and put in place; a new one gets mode 0644.
inline const korv::AccountFile kDumpFiles[] = {
    {KORV_GROUP_FILE, 0644, kGroupTemp},
    {KORV_GROUP_DESC_FILE, 0644, kGroupDescTemp},
};
enum { kGroupLines, kDescLines };

}  // namespace korv::group
