// The schedules over any crontab: get, set and remove of one command. The first byte picks the
// schedule's fields; the rest is "/etc/crontab". Lines that do not hold the command stay byte
// for byte and in order; a set schedule reads back as it was set; a removed one is gone.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_files.h"
#include "korv/schedule.h"

namespace {

const char kCommand[] = "/usr/sbin/fzjob";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (!korvfuzz::write_file(KORV_CRONTAB, text))
        return 0;
    const std::vector<std::string> kept = korvfuzz::lines_without(text, kCommand);
    const bool held = kept.size() != korvfuzz::lines_of(text).size();

    KORVSCHEDULE got{};
    KORVScheduleGet(kCommand, &got);
    korvfuzz::require(strnlen(got.szCommand, sizeof got.szCommand) < sizeof got.szCommand,
                      "a command read is terminated");
    KORVScheduleGet("root", &got);

    KORVSCHEDULE set{};
    set.weekdays = (data[0] & 0x7F) ? data[0] & 0x7F : 127;
    set.hourStart = data[0] % 12;
    set.hourEnd = set.hourStart + data[0] % 7;
    set.hourStep = data[0] >> 7 ? 2 : 0;
    set.minute = data[0] % 60;
    snprintf(set.szCommand, sizeof set.szCommand, "%s", kCommand);
    if (KORVScheduleSet(&set) == 0) {
        const std::string after = korvfuzz::read_file(KORV_CRONTAB);
        korvfuzz::require(korvfuzz::lines_without(after, kCommand) == kept, "a set keeps every other line");
        KORVSCHEDULE back{};
        korvfuzz::require(KORVScheduleGet(kCommand, &back) == 1, "a set schedule is found");
        korvfuzz::require(back.weekdays == set.weekdays && back.hourStart == set.hourStart &&
                              back.minute == set.minute && strcmp(back.szCommand, kCommand) == 0,
                          "a set schedule reads back as it was set");
        if (set.hourStep && set.hourStart != set.hourEnd) {
            korvfuzz::require(back.hourEnd == set.hourEnd && back.hourStep == set.hourStep,
                              "the hours read back as they were set");
        }
    }
    if (KORVScheduleRemove(kCommand) == 0) {
        const std::string after = korvfuzz::read_file(KORV_CRONTAB);
        korvfuzz::require(korvfuzz::lines_without(after, kCommand) == kept, "a remove keeps every other line");
        // With no line of the command at first, the set's own line is the one removed.
        if (!held) {
            korvfuzz::require(after.find(kCommand) == std::string::npos, "a removed schedule is gone");
        }
    }
    return 0;
}
