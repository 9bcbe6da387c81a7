#include <stdint.h>

#include "korv/mtd.h"
#include "korv/platform.h"

// A kernel without system call 401 reads as a flash that is not MSys.
extern "C" int KORVSyscallFlagGet(void)
{
    uint32_t word = 0;
    if (korv_plat_flag_get(&word) != 0)
        return 0;
    return (word & 1u) ? 1 : 0;
}
