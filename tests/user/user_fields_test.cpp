// How stored account lines and lists are cut: exact and leading fields, empty fields, the rest.
#include <string>
#include <string_view>
#include <vector>

#include "korv_fields.h"
#include "user_test_util.h"

namespace {

struct FieldsCase {
    const char *name;
    const char *line;
    int n;
    korv::FieldCount count;
    bool ok;
    std::vector<std::string> fields;  // when ok
};

using korv::FieldCount;

const FieldsCase kFieldsCases[] = {
    {"PasswdLine", "alice:x:1030:100:Alice:/home/alice:/bin/sh", 7, FieldCount::Exact, true,
     {"alice", "x", "1030", "100", "Alice", "/home/alice", "/bin/sh"}},
    {"EmptyFieldsCount", "::::::", 7, FieldCount::Exact, true, {"", "", "", "", "", "", ""}},
    {"TrailingColonIsAnEmptyLastField", "smmsp:x:25:", 4, FieldCount::Exact, true, {"smmsp", "x", "25", ""}},
    {"OneFieldTooFew", "alice:x:1030:100:Alice:/home/alice", 7, FieldCount::Exact, false, {}},
    {"OneFieldTooMany", "alice:x:1030:100:Alice:/home/alice:/bin/sh:", 7, FieldCount::Exact, false, {}},
    {"EmptyLineIsOneField", "", 1, FieldCount::Exact, true, {""}},
    {"EmptyLineIsNoGroupLine", "", 4, FieldCount::AtLeast, false, {}},
    {"LastHoldsTheRest", "users:x:100:a,b:c:d", 4, FieldCount::AtLeast, true, {"users", "x", "100", "a,b:c:d"}},
    {"RestMayBeEmpty", "users:x:100:", 4, FieldCount::AtLeast, true, {"users", "x", "100", ""}},
    {"RestWithoutItsColonIsTooShort", "users:x:100", 4, FieldCount::AtLeast, false, {}},
    {"TwoColonsGiveTheUidField", "alice:x:1030", 3, FieldCount::AtLeast, true, {"alice", "x", "1030"}},
};

class AccountFields : public testing::TestWithParam<FieldsCase> {};

TEST_P(AccountFields, Cut)
{
    const FieldsCase &c = GetParam();
    std::string line = c.line;
    std::string_view f[9];
    ASSERT_EQ(c.ok, korv::AccountFields(line, c.n, f, c.count));
    if (!c.ok)
        return;
    for (int i = 0; i < c.n; ++i) {
        EXPECT_EQ(c.fields[static_cast<size_t>(i)], f[i]) << "field " << i;
        // The fields lie in the line itself.
        EXPECT_TRUE(f[i].data() >= line.data() && f[i].data() <= line.data() + line.size()) << "field " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AccountFields, testing::ValuesIn(kFieldsCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(AccountFieldNumbers, AsTheEntriesReadThem)
{
    std::string line = "a:x:1030:-7::12abc:0:2147483647";
    std::string_view f[8];
    ASSERT_TRUE(korv::AccountFields(line, 8, f));
    EXPECT_EQ(1030, korv::FieldInt(f[2]));
    EXPECT_EQ(-7, korv::FieldInt(f[3]));        // not only digits: atoi up to the ":"
    EXPECT_EQ(0, korv::FieldInt(f[4]));         // empty
    EXPECT_EQ(-1L, korv::FieldNumber(f[4]));    // an empty number reads -1
    EXPECT_EQ(12, korv::FieldInt(f[5]));
    EXPECT_EQ(0, korv::FieldInt(f[6]));
    EXPECT_EQ(2147483647L, korv::FieldNumber(f[7]));
}

TEST(SplitList, EveryFieldEmptyOnesToo)
{
    EXPECT_EQ((std::vector<std::string>{"a", "", "b"}), korv::SplitList("a,,b", ','));
    EXPECT_EQ((std::vector<std::string>{""}), korv::SplitList("", ','));
    EXPECT_EQ((std::vector<std::string>{"a", ""}), korv::SplitList("a,", ','));
    EXPECT_EQ((std::vector<std::string>{"a:b"}), korv::SplitList("a:b", ','));
}

}  // namespace
