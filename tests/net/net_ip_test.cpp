// Dotted IPv4 texts: the split into four numbers and the address test of the address lists.
#include <string>

#include "net_test.h"

using namespace nettest;

namespace {

struct SepCase {
    const char *text;
    int result;
    int stored;          // numbers written: those parsed, also one not followed by "."
    int n0, n1, n2, n3;
};

const SepCase kSepCases[] = {
    {"192.168.1.20", 4, 4, 192, 168, 1, 20},
    {"192.168.1", 2, 3, 192, 168, 1, 0},        // the third number is stored, but has no "." after it
    {"10.0.0.1x", 3, 4, 10, 0, 0, 1},
    {"010.0.0.1", 4, 4, 8, 0, 0, 1},            // a leading 0 is octal
    {"0x0a.0.0.1", 4, 4, 10, 0, 0, 1},          // 0x is hexadecimal
    {"-1.2.3.4", 4, 4, -1, 2, 3, 4},            // numbers are not range-tested here
    {"300.2.3.4", 4, 4, 300, 2, 3, 4},
    {" 1.2.3.4", 4, 4, 1, 2, 3, 4},             // strtol's leading blanks
    {"1.2.3.4 ", 3, 4, 1, 2, 3, 4},
    {"", 0, 0, 0, 0, 0, 0},
    {"abc", 0, 0, 0, 0, 0, 0},
    {"1..2.3", 1, 1, 1, 0, 0, 0},               // an empty field is no number
    {"1.2.3.", 3, 3, 1, 2, 3, 0},
    {".1.2.3", 0, 0, 0, 0, 0, 0},
    {"4294967297.1.1.1", 0, 0, 0, 0, 0, 0},     // would wrap to 1 in an int
    {"1.4294967296.1.1", 1, 1, 1, 0, 0, 0},
    {"1.2.3.99999999999999999999", 3, 3, 1, 2, 3, 0},
    {"2147483647.1.1.1", 4, 4, 2147483647, 1, 1, 1},
    {"-2147483648.1.1.1", 4, 4, -2147483647 - 1, 1, 1, 1},
    {"1.2.3.4.5", 3, 4, 1, 2, 3, 4},
    {"001.002.003.0000000000000000004", 4, 4, 1, 2, 3, 4},      // 31 characters: taken whole
    {"001.002.003.00000000000000000004", 0, 0, 0, 0, 0, 0},     // 32: refused, never cut
};

void PrintTo(const SepCase &c, std::ostream *os)
{
    *os << label(c.text);
}

class SepIP : public testing::TestWithParam<SepCase> {};

TEST_P(SepIP, FieldsAndNumbers)
{
    const SepCase &c = GetParam();
    int n[4] = {-7, -7, -7, -7};
    mark_error();
    EXPECT_EQ(c.result, KORVNetSepIP(c.text, n));
    EXPECT_EQ(c.result == 4 ? kUntouched : KORL_ERR_NOT_IPV4, KORLErrGet());
    const int want[4] = {c.n0, c.n1, c.n2, c.n3};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(i < c.stored ? want[i] : -7, n[i]) << "number " << i;
}

INSTANTIATE_TEST_SUITE_P(Texts, SepIP, testing::ValuesIn(kSepCases),
                         [](const auto &info) { return label(info.param.text); });

TEST(SepIPRefused, NullArguments)
{
    int n[4];
    mark_error();
    EXPECT_EQ(0, KORVNetSepIP(nullptr, n));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(0, KORVNetSepIP("1.2.3.4", nullptr));
}

struct AddrCase {
    const char *text;
    int result;
};

const AddrCase kAddrCases[] = {
    {"192.168.1.0", 1},     {"223.255.255.254", 1}, {"1.0.0.0", 1},       {"10.0.0.1", 1},
    {"127.0.0.1", 0},       {"0.1.2.3", 0},         {"224.0.0.1", 0},     {"192.168.1.255", 0},
    {"192.256.1.1", 0},     {"192.168.256.1", 0},   {"192.-1.1.1", 0},    {"192.168.1.-1", 0},
    {"-192.168.1.1", 0},    {"192.168.1", 0},       {"4294967297.1.1.1", 0},
    {"1.4294967296.1.1", 0}, {"0x7f.0.0.1", 0},     {"0300.0250.01.02", 1},  // 192.168.1.2 in octal
    {"1..2.3", 0},          {"1.2.3.", 0},
};

void PrintTo(const AddrCase &c, std::ostream *os)
{
    *os << label(c.text);
}

class IsIPAddr : public testing::TestWithParam<AddrCase> {};

TEST_P(IsIPAddr, HostAddressesOfClassesAToC)
{
    const AddrCase &c = GetParam();
    mark_error();
    EXPECT_EQ(c.result, KORVNetIsIPAddr(c.text));
    EXPECT_EQ(c.result ? kUntouched : KORL_ERR_NOT_IPV4, KORLErrGet());
}

INSTANTIATE_TEST_SUITE_P(Texts, IsIPAddr, testing::ValuesIn(kAddrCases),
                         [](const auto &info) { return label(info.param.text); });

TEST(IsIPAddrNull, IsNoAddress)
{
    EXPECT_EQ(0, KORVNetIsIPAddr(nullptr));
}

}  // namespace
