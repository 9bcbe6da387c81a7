// Test programs run only inside the device sandbox: the code under test uses the device's
// absolute paths, so outside it they would touch the host's own files.
#include <stdio.h>
#include <stdlib.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "korvtest.h"

namespace {

bool inside_sandbox()
{
    const char *token = getenv("KORV_SANDBOX");
    if (!token || !*token)
        return false;
    // The host's /proc is never mounted in a device tree: there it is a folder of fixtures.
    struct statfs fs {};
    constexpr long kProcMagic = 0x9fa0;
    if (statfs("/proc", &fs) != 0 || fs.f_type == kProcMagic)
        return false;
    return korvtest::file_exists("/.korvsim/sandbox") &&
           korvtest::read_file("/.korvsim/sandbox") == std::string(token) + "\n";
}

}  // namespace

int main(int argc, char **argv)
{
    if (!inside_sandbox()) {
        fprintf(stderr,
                "%s: refusing to run outside the device sandbox; run it through "
                "scripts/sandbox or ctest (see README.md)\n",
                argv[0]);
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
