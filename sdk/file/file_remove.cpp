// Removing a configuration file.
#include <unistd.h>

#include "korv/file.h"

extern "C" int KORLFileRemove(const char *path)
{
    return unlink(path);
}
