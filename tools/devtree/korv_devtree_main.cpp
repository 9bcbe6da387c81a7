// korv-devtree: builds a device tree inside the sandbox.
#include <stdio.h>
#include <string.h>

#include <exception>

#include "device_net.h"
#include "device_tree.h"
#include "sandbox_guard.h"

namespace {

void usage(const char *prog)
{
    fprintf(stderr,
            "usage: %s sample | redboot | redboot-junior | msys\n"
            "  sample          the README's unit: identity, 8-partition RedBoot flash, package, eth0,\n"
            "                  account and settings files as build 351 left them\n"
            "  redboot         an 8-partition RedBoot flash (directory on /dev/mtd7)\n"
            "  redboot-junior  a 6-partition RedBoot flash (directory on /dev/mtd5)\n"
            "  msys            an MSys flash of eight partitions\n",
            prog);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        usage(argv[0]);
        return 2;
    }
    if (!korv_inside_sandbox()) {
        fprintf(stderr, "%s: refusing to run outside the device sandbox\n", argv[0]);
        return 2;
    }
    try {
        if (strcmp(argv[1], "sample") == 0) {
            korvtest::build_sample_tree();
            korvtest::build_sample_network();
        } else if (strcmp(argv[1], "redboot") == 0) {
            korvtest::build_redboot_flash();
        } else if (strcmp(argv[1], "redboot-junior") == 0) {
            korvtest::RedBootOptions options;
            options.junior = true;
            korvtest::build_redboot_flash(options);
            korvtest::set_junior_hw(true);
        } else if (strcmp(argv[1], "msys") == 0) {
            korvtest::build_msys_flash();
        } else {
            usage(argv[0]);
            return 2;
        }
    } catch (const std::exception &e) {
        fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
