// Renaming users or groups in every share's user lists: one walk for the user renames and the
// group rename alike.
#pragma once

#include <functional>
#include <source_location>

namespace korv {

// Renames one list: 1 with *out a new heap text (freed by the walker), 0 unchanged, -1 failed
// (logged by the renamer).
using ListRenamer = std::function<int(const char *list, char **out)>;

// Walks every share once by name, hands its deny, write and read lists to rename, stores the
// share with the new lists when one changed (its other fields as they were), and writes smb.conf
// anew when any share was walked. A list that cannot be renamed fails its share, whose stored
// lists all stay as they are. A walk that ends on anything but the end of the store fails
// ("KORVShareDBCursorGet() error. korverr=0x%04X"). Messages at loc: the failed store names the
// share when nameInSetFailure. 0, or -1.
int RenameInShareLists(const ListRenamer &rename, bool nameInSetFailure,
                       std::source_location loc = std::source_location::current());

}  // namespace korv
