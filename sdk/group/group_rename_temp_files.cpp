#include <errno.h>

#include "group_dump_files.h"
#include "korv_internal.h"

namespace korv::group {

int GROUPIRenameTempFiles(void)
{
    int failed = -1;
    if (korv::AccountRenameTemps(kDumpFiles, 2, std::source_location::current(), false, &failed) != 0) {
        int err = errno;
        if (failed >= 0) {
            errno = err;
            KORV_LOG("Rename [%s]->[%s] fail, errno=%d/%m", kDumpFiles[failed].temp, kDumpFiles[failed].path, err);
        }
        return -1;
    }
    return 0;
}

}  // namespace korv::group
