// The account-line unpacks: a passwd, shadow and group line as a store or a text file may hold.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "korv/group.h"
#include "user/user_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Stored lines are texts: what follows a NUL is never part of one.
    const std::string line(reinterpret_cast<const char *>(data), size);
    const char *text = line.c_str();

    void *buf = nullptr;
    int cb = 0;
    korv::user::UserDBPasswdUnpack(text, &buf, &cb);
    korv::user::UserDBShadowUnpack(text, &buf, &cb);
    free(buf);

    KORVGROUP *group = nullptr;
    KORVGroupDBUnpack(text, &group);
    // A reused record, as the walks reuse theirs.
    KORVGroupDBUnpack(text, &group);
    KORVGroupFree(group);
    KORVGroupFree(KORVGroupAlloc(text));
    return 0;
}
