// The ring file: each write of a table lands where the device's readers expect it, the file
// compared byte for byte after every step; records the ring cannot hold; damaged headers.
#include <errno.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "eventlog_test.h"

using namespace korvtest;
using namespace logtest;

namespace {

const std::string kUser = "tester";

struct Step {
    int len;          // the record's total length
    int at;           // where it lands; -1: refused, the file stays as it was
    uint32_t head, tail;
    int marker;       // where an end marker is written, or -1
    int max = 0;      // a lower maximum set before this write: the log is shrunk first
    std::vector<int> rebuilt = {};  // after that shrink, the steps whose records the file holds from 16
};

struct RingCase {
    const char *name;
    int max;
    std::vector<Step> steps;
    std::vector<int> kept;  // the steps whose records the ring holds at the end, in ring order
};

const RingCase kRingCases[] = {
    // Records of 60 in 200 bytes: three fit, the fourth wraps over the two oldest, and the
    // rest of the old segment goes once the newer segment can take the record.
    {"EvenRecordsWrap", 200,
     {{60, 16, 16, 76, -1}, {60, 76, 16, 136, -1}, {60, 136, 16, 196, -1}, {60, 16, 136, 76, 196},
      {60, 76, 196, 136, -1}, {60, 136, 16, 196, -1}, {60, 16, 136, 76, 196}},
     {6, 7}},
    // The wrapped ring takes a record into its gap when the gap is larger than the record.
    {"GapTakesSmallRecord", 250,
     {{60, 16, 16, 76, -1}, {60, 76, 16, 136, -1}, {60, 136, 16, 196, -1}, {60, 16, 136, 76, 196},
      {50, 76, 136, 126, -1}},
     {3, 4, 5}},
    // Mixed sizes: an exact fit before the end marker's two bytes, a record that drops both
    // segments whole, and a marker in the file's last two bytes.
    {"MixedSizes", 300,
     {{100, 16, 16, 116, -1}, {100, 116, 16, 216, -1}, {80, 216, 16, 296, -1}, {90, 16, 116, 106, 296},
      {50, 106, 216, 156, -1}, {200, 16, 16, 216, 156}, {82, 216, 16, 298, -1}, {60, 16, 216, 76, 298}},
     {7, 8}},
    // A record larger than everything before it empties the ring and stands alone; the largest
    // record the ring holds is its size less the header and the end marker.
    {"RecordLargerThanTheRest", 200,
     {{100, 16, 16, 116, -1}, {100, 16, 16, 116, 116}, {182, 16, 16, 198, 116}, {183, -1, 0, 0, -1},
      {60, 16, 198, 76, 198}},
     {5}},
    // Lowering the maximum: the next write shrinks the wrapped file to its newest records, from 16
    // and unwrapped, and then appends.
    {"ShrinkThenWrite", 200,
     {{60, 16, 16, 76, -1}, {60, 76, 16, 136, -1}, {60, 136, 16, 196, -1}, {60, 16, 136, 76, 196},
      {60, 76, 196, 136, -1}, {60, 136, 16, 196, -1}, {60, 16, 136, 76, 196}, {60, 76, 16, 136, -1, 150, {7}},
      {60, 16, 136, 76, 136}},
     {9}},
};

class Ring : public testing::TestWithParam<RingCase> {};

void PrintTo(const RingCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(Ring, EveryStepByteForByte)
{
    const RingCase &c = GetParam();
    setenv("USERNAME", kUser.c_str(), 1);
    set_sys_max(c.max);
    const std::string program = program_invocation_short_name;
    const int base = int(24 + program.size() + kUser.size());

    std::string image;
    std::vector<std::string> texts, records;
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step &s = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        ASSERT_GE(s.len, base);
        if (s.max) {
            set_sys_max(s.max);
            image = header(0, 0);
            for (int step : s.rebuilt)
                image += records[size_t(step - 1)];
        }
        const std::string text = std::to_string(i + 1) + std::string(size_t(s.len - base) - std::to_string(i + 1).size(), '.');
        texts.push_back(text);
        const uint32_t before = uint32_t(time(nullptr));
        const int result = KORVLogSet1(1, 1, 0x11800E02u + unsigned(i), text.c_str(), nullptr, nullptr, nullptr);
        const uint32_t after = uint32_t(time(nullptr));
        if (s.at < 0) {
            records.emplace_back();
            EXPECT_EQ(-1, result);
            EXPECT_EQ(image, read_file(kSysLog));
            continue;
        }
        ASSERT_EQ(0, result);
        const std::string file = read_file(kSysLog);
        ASSERT_GE(file.size(), size_t(s.at) + size_t(s.len));
        const uint32_t stamp = le32(file, size_t(s.at) + 4);
        EXPECT_LE(before, stamp);
        EXPECT_GE(after, stamp);

        // The end marker goes first; a record at 16 may cover it.
        if (s.marker >= 0) {
            if (image.size() < size_t(s.marker) + 2)
                image.resize(size_t(s.marker) + 2);
            image[size_t(s.marker)] = image[size_t(s.marker) + 1] = '\0';
        }
        if (image.size() < size_t(s.at + s.len))
            image.resize(size_t(s.at + s.len));
        records.push_back(encode(1, 0x11800E02u + unsigned(i), stamp, program, kUser, {text, "", "", ""}));
        image.replace(size_t(s.at), size_t(s.len), records.back());
        image.replace(0, 16, header(s.head, s.tail));
        EXPECT_EQ(image, file);
        EXPECT_LE(file.size(), size_t(c.max));
    }

    std::vector<std::string> got;
    for (const Record &r : walk(kSysLog))
        got.push_back(r.texts[0]);
    std::vector<std::string> want;
    for (int step : c.kept)
        want.push_back(texts[size_t(step - 1)]);
    EXPECT_EQ(want, got);
    unsetenv("USERNAME");
}

INSTANTIATE_TEST_SUITE_P(Cases, Ring, testing::ValuesIn(kRingCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(RingRecord, TextsAndTheirLengths)
{
    setenv("USERNAME", "tester", 1);
    ASSERT_EQ(0, KORVLogSet1(2, 0x1234, 0xDEADBEEFu, "first", "second", "", nullptr));
    const std::vector<Record> records = walk(kSysLog);
    ASSERT_EQ(1u, records.size());
    const Record &r = records[0];
    EXPECT_EQ(16u, r.offset);
    EXPECT_EQ(0x1234u, r.level);
    EXPECT_EQ(0xDEADBEEFu, r.code);
    EXPECT_EQ(std::string(program_invocation_short_name), r.program);
    EXPECT_EQ("tester", r.user);
    // An empty text is stored as one blank, a null one as nothing.
    EXPECT_EQ((std::vector<std::string>{"first", "second", " ", ""}), r.texts);
    // The level keeps its low 16 bits.
    ASSERT_EQ(0, KORVLogSet1(2, 0x12345, 1, "x", nullptr, nullptr, nullptr));
    EXPECT_EQ(0x2345u, walk(kSysLog).back().level);
    unsetenv("USERNAME");
}

// Texts whose record the 16-bit length cannot describe are refused before any log file exists.
TEST(RingRecord, TooLongForItsLengthIsRefused)
{
    set_sys_max(1 << 20);
    const std::string big(70000, 'x');
    const std::string half(40000, 'y');
    EXPECT_EQ(-1, KORVLogSet1(1, 1, 1, big.c_str(), nullptr, nullptr, nullptr));
    EXPECT_EQ(-1, KORVLogSet1(1, 1, 1, half.c_str(), half.c_str(), nullptr, nullptr));
    EXPECT_FALSE(file_exists(kSysLog));
    EXPECT_EQ(0, KORVLogSet1(1, 1, 1, std::string(60000, 'z').c_str(), nullptr, nullptr, nullptr));
    ASSERT_EQ(1u, walk(kSysLog).size());
}

// A write that fails names the log file and the bytes it was to take, then the step's own tag.
TEST(RingRecord, FailedWriteNamesTheFileAndItsBytes)
{
    set_conf("syslogfile=\"/dev/full\"\n");
    syslog_clear();
    EXPECT_EQ(-1, KORVLogSet1(1, 1, 1, "x", nullptr, nullptr, nullptr));
    EXPECT_TRUE(syslog_has("sdk/korvlog1: write of /dev/full bytes 0x0-0x3: 0x0 bytes done, then No space left "
                           "on device (errno 28)"))
        << syslog_dump();
    EXPECT_TRUE(syslog_has("sdk/korvlog1: line 99")) << syslog_dump();
    // Only KORVLogWriteByte itself speaks for KORVLogWriteByte.
    EXPECT_FALSE(syslog_contains("KORVLogWriteByte()")) << syslog_dump();
}

struct DamageCase {
    const char *name;
    // The file as found; the ring's maximum is 200.
    std::string file;
    int result;
    bool restarted;  // the record went to 16 of an emptied ring
};

std::string rec(uint32_t len)
{
    std::string b;
    put16(b, len);
    b += std::string(len - 2, 'r');
    return b;
}

std::string ring(uint32_t head, uint32_t tail, const std::string &body)
{
    return header(head, tail) + body;
}

const DamageCase kDamageCases[] = {
    {"HeadPastTheEnd", ring(5000, 16, ""), 0, true},
    {"TailPastTheEnd", ring(16, 5000, rec(60)), 0, true},
    {"HeadInsideTheHeader", ring(3, 76, rec(60)), 0, true},
    {"HeaderCutShort", std::string("KORV\0\0\0\0\x10\0", 10), 0, true},
    // Dropping old records meets a length below a record's fixed part, or one that runs past the
    // tail: the write ends, nothing is overwritten.
    {"GarbageLengthWhileDropping", ring(16, 196, rec(60) + rec(60) + rec(60)).replace(16, 2, "\x05\0", 2), -1,
     false},
    {"LengthPastTheTail", ring(16, 196, rec(60) + rec(60) + rec(60)).replace(16, 2, "\xff\xff", 2), -1, false},
    {"GarbageInTheOldSegment",
     ring(136, 76, rec(60) + rec(60) + std::string("\x03\0", 2) + std::string(58, 'r') + std::string(2, '\0')), -1,
     false},
    // An old segment cut short by the file's end is the end of that segment.
    {"OldSegmentCutByTheFileEnd", ring(195, 136, rec(60) + rec(60) + std::string(59, 'g') + "\x3c"), 0, false},
};

class Damage : public testing::TestWithParam<DamageCase> {};

void PrintTo(const DamageCase &c, std::ostream *os)
{
    *os << c.name;
}

TEST_P(Damage, EveryWalkEnds)
{
    const DamageCase &c = GetParam();
    set_sys_max(200);
    write_file(kSysLog, c.file, 0600);
    setenv("USERNAME", "tester", 1);
    const std::string text(60 - 24 - std::string(program_invocation_short_name).size() - 6, 't');
    EXPECT_EQ(c.result, KORVLogSet1(1, 1, 1, text.c_str(), nullptr, nullptr, nullptr));
    const std::string after = read_file(kSysLog);
    if (c.result == -1) {
        EXPECT_EQ(c.file.substr(0, 16), after.substr(0, 16));
    } else {
        const std::vector<Record> records = walk(kSysLog);
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(text, records.back().texts[0]);
        if (c.restarted) {
            EXPECT_EQ(header(16, 76), after.substr(0, 16));
        }
    }
    unsetenv("USERNAME");
}

INSTANTIATE_TEST_SUITE_P(Cases, Damage, testing::ValuesIn(kDamageCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
