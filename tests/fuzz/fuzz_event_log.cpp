// The event log's appends and its shrink over any ring file with a small maximum. The first byte
// picks the maximum, the second the text lengths; the rest is the file. After every append that
// succeeds the header is valid and its tail ends the new record, which the head does not cut.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "fuzz_files.h"
#include "korv/eventlog.h"

namespace {

const char *const kLog = "/var/log/korvsys.log";

uint32_t le(const std::string &b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | uint8_t(b[at + size_t(i)]);
    return v;
}

// The header of the ring as read back; false when it is not one.
bool header(const std::string &f, uint32_t *head, uint32_t *tail)
{
    if (f.size() < KORV_LOG_HEADER_SIZE || f.compare(0, 4, "KORV") != 0)
        return false;
    *head = le(f, 8, 4);
    *tail = le(f, 12, 4);
    return *head >= KORV_LOG_HEADER_SIZE && *tail >= KORV_LOG_HEADER_SIZE && *tail <= f.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    static const bool once = [] { return setenv("USERNAME", "fuzz", 1) == 0; }();
    (void)once;
    const int max = 64 + data[0] * 2;
    const std::string conf = "syslogfile\t=\t\"" + std::string(kLog) + "\"\nsyslogfilesize_MAX\t=\t\"" +
                             std::to_string(max) + "\"\n";
    if (!korvfuzz::write_file(KORV_LOG_CONF, conf) ||
        !korvfuzz::write_file(kLog, std::string(reinterpret_cast<const char *>(data) + 2, size - 2)))
        return 0;

    // Every record: the names "fuzz_event_log" and "fuzz", then the texts, the empty second one
    // stored as " " and the missing third as nothing.
    const size_t fixed = KORV_LOG_RECORD_FIXED + 14 + 4 + 1 + 1;
    for (int i = 0; i < 3; ++i) {
        const std::string text(size_t(data[1] >> (2 * i) & 0x3F) + 1, char('a' + i));
        const uint32_t code = 0x7000u + uint32_t(i);
        if (KORVLogSet1(1, 1, code, text.c_str(), "", nullptr, "x") != 0)
            continue;
        const std::string f = korvfuzz::read_file(kLog);
        uint32_t head = 0, tail = 0;
        korvfuzz::require(header(f, &head, &tail), "an append leaves a valid header");
        const uint32_t len = uint32_t(fixed + text.size());
        korvfuzz::require(tail >= KORV_LOG_HEADER_SIZE + len, "the tail ends the new record");
        const uint32_t at = tail - len;
        korvfuzz::require(le(f, at, 2) == len && le(f, at + 12, 4) == code, "the new record stands before the tail");
        korvfuzz::require(!(head > at && head < tail), "the head does not point into the new record");
    }

    struct stat before {};
    const bool existed = stat(kLog, &before) == 0;
    if (existed && KORVLogChangeSize(max / 2, 1) == 0) {
        struct stat after {};
        // A shrink that replaced the file left a ring.
        if (stat(kLog, &after) == 0 && after.st_ino != before.st_ino) {
            uint32_t head = 0, tail = 0;
            korvfuzz::require(header(korvfuzz::read_file(kLog), &head, &tail), "a shrink leaves a valid header");
            korvfuzz::require(head == KORV_LOG_HEADER_SIZE, "a shrunk ring starts at 16");
        }
    }
    return 0;
}
