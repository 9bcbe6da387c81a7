#include <errno.h>

#include "group_dump_files.h"
#include "korv_internal.h"

namespace korv::group {

namespace {

void Report(int index, int err)
{
    errno = err;
    KORV_LOG("Remove [%s] failed! errno=%d/%m", kDumpFiles[index].temp, err);
}

}  // namespace

int GROUPIRemoveTempFiles(void)
{
    return korv::AccountRemoveTemps(kDumpFiles, 2, std::source_location::current(), false, Report);
}

}  // namespace korv::group
