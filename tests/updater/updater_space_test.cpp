// The updater's own reading of the factory setting "supportraid": the same answers the shell
// program gives, without running one.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "device_tree.h"
#include "korvtest.h"
#include "updater.h"

namespace {

TEST(SupportRaid, AnswersFromTheFactorySettings)
{
    korvtest::install_get_key_value();
    struct Case {
        const char *file;  // null: no settings file
        int raid;
    };
    const Case cases[] = {
        {"supportraid=\"yes\"\n", 1},
        {"supportraid=\"YES\"\n", 1},
        {"supportraid=yes\n", 1},
        {"supportraid=\"yes, two bays\"\n", 1},
        {"unique=\"x\"\nsupportraid=\"Yes\"\n", 1},
        {"supportraid=\"no\"\n", 0},
        {"supportraid=\"ye\"\n", 0},
        {"supportraid=\"\"\n", 0},
        {"other=\"yes\"\n", 0},
        {nullptr, 0},
    };
    for (const Case &c : cases) {
        unlink("/etc.defaults/korvinfo.conf");
        if (c.file)
            korvtest::write_file("/etc.defaults/korvinfo.conf", c.file);
        EXPECT_EQ(UPDTSupportRaid(), c.raid) << (c.file ? c.file : "no file");
    }
    EXPECT_TRUE(korvtest::program_runs("get_key_value").empty());
}

}  // namespace
