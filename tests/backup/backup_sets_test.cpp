// Backup sets: reading every set of a kind, writing one (add, update, rename), freeing.
#include <sys/stat.h>

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/backup.h"
#include "korv/error.h"
#include "korvtest.h"
#include "side_by_side.h"

using namespace korvtest;

namespace {

// The sets of a kind read back, released at the end of the test.
struct Sets {
    void **items = nullptr;
    int count = -1;
    int kind;
    explicit Sets(int k) : kind(k) { count = KORVBackupConfGetAll(&items, kind); }
    ~Sets() { KORVBackupConfFreeAll(items, count, kind); }
    KORVNETBKPCONF *net(int i) const { return static_cast<KORVNETBKPCONF *>(items[i]); }
    KORVLOCALBKPCONF *local(int i) const { return static_cast<KORVLOCALBKPCONF *>(items[i]); }
};

KORVNETBKPCONF NetSet(const char *name)
{
    KORVNETBKPCONF c{};
    c.szSection = const_cast<char *>(name);
    c.last_bkp_status = -1;
    c.server_type = 12;
    c.bkp_server = const_cast<char *>("backup.example");
    c.server_pass = const_cast<char *>("pw");
    return c;
}

TEST(BackupConfGetAll, MissingFileIsNoSets)
{
    Sets sets(BACKUP_TYPE_NETBKP);
    EXPECT_EQ(0, sets.count);
    EXPECT_EQ(nullptr, sets.items);
    EXPECT_EQ(0, KORVBackupConfSectionCount(KORV_NETBKP_CONF));
}

TEST(BackupConfGetAll, NullArrayRefused)
{
    mark_error();
    EXPECT_EQ(-1, KORVBackupConfGetAll(nullptr, BACKUP_TYPE_NETBKP));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
}

TEST(BackupConfGetAll, NetworkSetsWithTheirDefaults)
{
    write_file(KORV_NETBKP_CONF,
               "bkp_server=\"before.any.section\"\n"
               "[office]  \n"
               "\tbkp_server=\"10.0.0.7\"\n"
               "\tbkp_ip = 10.0.0.8\n"
               "\tno equals sign here\n"
               "\n"
               "\tlast_bkp_status=\"3\"\n"
               "\tserver_type=\"not a number\"\n"
               "\tbkp_server=\"10.0.0.9\"\n"
               "[bare]\n");
    Sets sets(BACKUP_TYPE_NETBKP);
    ASSERT_EQ(2, sets.count);
    KORVNETBKPCONF *office = sets.net(0);
    EXPECT_STREQ("office", office->szSection);
    EXPECT_STREQ("10.0.0.9", office->bkp_server);  // a later equal key wins
    EXPECT_STREQ("10.0.0.8", office->bkp_ip);
    EXPECT_EQ(3, office->last_bkp_status);
    EXPECT_EQ(0, office->server_type);
    KORVNETBKPCONF *bare = sets.net(1);
    EXPECT_STREQ("bare", bare->szSection);
    EXPECT_EQ(-1, bare->last_bkp_status);
    EXPECT_EQ(1, bare->server_type);
    EXPECT_EQ(0, bare->ssh);
    EXPECT_STREQ("", bare->bkp_server);
    EXPECT_STREQ("", bare->bkp_apps);
}

struct DestCase {
    const char *word;
    int number;
};

const DestCase kDestCases[] = {
    {"internal", 0}, {"usb", 1}, {"esata", 2}, {"usbbkp", 3}, {"esatabkp", 4},
    {"USB", -1},     {"", -1},   {"usb2", -1},
};

class LocalDest : public testing::TestWithParam<DestCase> {};

TEST_P(LocalDest, WordReadAsNumberAndWrittenBack)
{
    const DestCase &c = GetParam();
    write_file(KORV_LOCALBKP_CONF, std::string("[disk]\n\tdest_type=\"") + c.word + "\"\n\tdest_share=\"s\"\n");
    Sets sets(BACKUP_TYPE_LOCALBKP);
    ASSERT_EQ(1, sets.count);
    EXPECT_EQ(c.number, sets.local(0)->dest_type);
    EXPECT_STREQ("s", sets.local(0)->dest_share);

    ASSERT_EQ(0, KORVLocalBkpConfSetOne("disk", sets.local(0)));
    std::string written = read_file(KORV_LOCALBKP_CONF);
    std::string expect = std::string("\tdest_type=\"") + (c.number < 0 ? "" : c.word) + "\"\n";
    EXPECT_NE(std::string::npos, written.find(expect)) << written;
}

INSTANTIATE_TEST_SUITE_P(Words, LocalDest, testing::ValuesIn(kDestCases),
                         [](const auto &info) { return label(info.param.word); });

// Damaged section lines: the count, the reader and the rewrite tell a header alike, and the
// damage costs at most the set of that line. Each set read is written back under its own name
// and replaces itself.
struct DamageCase {
    const char *name;
    std::string file;
    std::vector<std::pair<std::string, std::string>> sets;  // name, bkp_shares
};

using namespace std::string_literals;

const DamageCase kDamageCases[] = {
    {"NulBytesAfterTheBracket",
     "[a]\n\tbkp_shares=\"1\"\n[x]\0\0junk\n\tbkp_shares=\"2\"\n[b]\n\tbkp_shares=\"3\"\n"s,
     {{"a", "1"}, {"b", "3"}}},
    {"NulBytesInsideTheHeader", "[a]\0\0\0\0[set1]\n\tbkp_shares=\"1\"\n[b]\n\tbkp_shares=\"2\"\n"s, {{"b", "2"}}},
    {"BracketLineEndsTheSet", "[a]\n\tbkp_shares=\"1\"\n[broken\n\tbkp_shares=\"2\"\n[b]\n\tbkp_shares=\"3\"\n",
     {{"a", "1"}, {"b", "3"}}},
    {"NameLongerThanTheRecordHolds", "[" + std::string(200, 'n') + "]\n\tbkp_shares=\"1\"\n[b]\n\tbkp_shares=\"2\"\n",
     {{"b", "2"}}},
    {"BlanksAfterTheBracket", "[a] \t\n\tbkp_shares=\"1\"\n", {{"a", "1"}}},
    // Written back as a key line, this one would read as bkp_shares, after the real one.
    {"KeyBeginningWithAQuote", "[a]\n\"\t\tbkp_shares=\"x\"y\n", {{"a", ""}}},
};

void PrintTo(const DamageCase &c, std::ostream *os)
{
    *os << c.name;
}

class BackupDamage : public testing::TestWithParam<std::tuple<DamageCase, int>> {};

std::vector<std::pair<std::string, std::string>> Read(int kind)
{
    Sets sets(kind);
    std::vector<std::pair<std::string, std::string>> out;
    for (int i = 0; i < sets.count; ++i) {
        if (kind == BACKUP_TYPE_NETBKP)
            out.emplace_back(sets.net(i)->szSection, sets.net(i)->bkp_shares);
        else
            out.emplace_back(sets.local(i)->szSection, sets.local(i)->bkp_shares);
    }
    return out;
}

TEST_P(BackupDamage, CostsAtMostItsOwnSet)
{
    const auto &[c, kind] = GetParam();
    const char *file = kind == BACKUP_TYPE_NETBKP ? KORV_NETBKP_CONF : KORV_LOCALBKP_CONF;
    write_file(file, c.file, 0600);
    EXPECT_EQ(c.sets, Read(kind));
    {
        Sets sets(kind);
        for (int i = 0; i < sets.count; ++i) {
            const int rc = kind == BACKUP_TYPE_NETBKP ? KORVNetBkpConfSetOne(sets.net(i)->szSection, sets.net(i))
                                                      : KORVLocalBkpConfSetOne(sets.local(i)->szSection, sets.local(i));
            EXPECT_EQ(0, rc) << i;
        }
    }
    EXPECT_EQ(c.sets, Read(kind)) << read_file(file);
}

INSTANTIATE_TEST_SUITE_P(Rows, BackupDamage,
                         testing::Combine(testing::ValuesIn(kDamageCases),
                                          testing::Values(BACKUP_TYPE_NETBKP, BACKUP_TYPE_LOCALBKP)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == BACKUP_TYPE_NETBKP ? "Net" : "Local");
                         });

TEST(BackupConfSetOne, AddCreatesTheFileForItsOwnerOnly)
{
    KORVNETBKPCONF set = NetSet("nightly");
    ASSERT_EQ(0, KORVNetBkpConfSetOne(nullptr, &set));
    struct stat st;
    ASSERT_EQ(0, stat(KORV_NETBKP_CONF, &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);

    std::string text = read_file(KORV_NETBKP_CONF);
    EXPECT_NE(std::string::npos, text.find("[nightly]\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\tlast_bkp_status=\"-1\"\n"));
    EXPECT_NE(std::string::npos, text.find("\tserver_type=\"12\"\n"));

    Sets sets(BACKUP_TYPE_NETBKP);
    ASSERT_EQ(1, sets.count);
    EXPECT_EQ(-1, sets.net(0)->last_bkp_status);
    EXPECT_EQ(12, sets.net(0)->server_type);
    EXPECT_STREQ("backup.example", sets.net(0)->bkp_server);
    EXPECT_STREQ("pw", sets.net(0)->server_pass);
}

TEST(BackupConfSetOne, AddGoesAtTheEndAndRefusesAnExistingName)
{
    write_file(KORV_NETBKP_CONF, "[first]\n\tssh=\"1\"\n");
    KORVNETBKPCONF second = NetSet("second");
    ASSERT_EQ(0, KORVNetBkpConfSetOne("", &second));
    std::string after = read_file(KORV_NETBKP_CONF);
    EXPECT_EQ(0u, after.find("[first]\n\tssh=\"1\"\n[second]\n")) << after;

    KORVNETBKPCONF again = NetSet("first");
    EXPECT_EQ(-1, KORVNetBkpConfSetOne(nullptr, &again));
    EXPECT_EQ(after, read_file(KORV_NETBKP_CONF));
}

TEST(BackupConfSetOne, SectionWithoutKeysIsNewAndTheAddFails)
{
    write_file(KORV_NETBKP_CONF, "[empty]\n[other]\n\tssh=\"1\"\n");
    KORVNETBKPCONF set = NetSet("empty");
    EXPECT_EQ(-1, KORVNetBkpConfSetOne("empty", &set));
    EXPECT_EQ("[empty]\n[other]\n\tssh=\"1\"\n", read_file(KORV_NETBKP_CONF));
}

TEST(BackupConfSetOne, RenameKeepsUnknownKeysAndUpdatesKnownOnes)
{
    write_file(KORV_NETBKP_CONF, "[a]\n\tssh=\"1\"\n[old]\n\tbkp_ip=\"10.0.0.1\"\n\tfuture_key=\"kept\"\n"
                                 "\tbkp_server=\"stale\"\n[z]\n\tssh=\"0\"\n");
    KORVNETBKPCONF set = NetSet("new");  // bkp_ip null: the old value stays
    ASSERT_EQ(0, KORVNetBkpConfSetOne("old", &set));
    std::string text = read_file(KORV_NETBKP_CONF);
    EXPECT_EQ(std::string::npos, text.find("[old]")) << text;
    EXPECT_EQ(0u, text.find("[a]\n\tssh=\"1\"\n[new]\n")) << text;
    EXPECT_NE(std::string::npos, text.find("[z]\n\tssh=\"0\"\n"));
    EXPECT_NE(std::string::npos, text.find("\tfuture_key=\"kept\"\n"));
    EXPECT_NE(std::string::npos, text.find("\tbkp_ip=\"10.0.0.1\"\n"));
    EXPECT_NE(std::string::npos, text.find("\tbkp_server=\"backup.example\"\n"));
    EXPECT_EQ(std::string::npos, text.find("stale"));
    Sets sets(BACKUP_TYPE_NETBKP);
    EXPECT_EQ(3, sets.count);
}

TEST(BackupConfSetOne, RenameOntoAnotherSetRefused)
{
    const std::string before = "[mine]\n\tssh=\"1\"\n[theirs]\n\tserver_pass=\"their secret\"\n";
    write_file(KORV_NETBKP_CONF, before);
    KORVNETBKPCONF set = NetSet("theirs");
    mark_error();
    EXPECT_EQ(-1, KORVNetBkpConfSetOne("mine", &set));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_EQ(before, read_file(KORV_NETBKP_CONF));
}

TEST(BackupConfSetOne, LocalNullTextsWrittenEmpty)
{
    KORVLOCALBKPCONF set{};
    set.szSection = const_cast<char *>("usb copy");
    set.dest_type = 7;
    set.incrbkp = 1;
    ASSERT_EQ(0, KORVLocalBkpConfSetOne(nullptr, &set));
    std::string text = read_file(KORV_LOCALBKP_CONF);
    for (const char *line : {"\tdest_type=\"\"\n", "\tdest_id=\"\"\n", "\tlast_bkp_result=\"\"\n", "\tincrbkp=\"1\"\n"})
        EXPECT_NE(std::string::npos, text.find(line)) << line << " in " << text;
    Sets sets(BACKUP_TYPE_LOCALBKP);
    ASSERT_EQ(1, sets.count);
    EXPECT_STREQ("usb copy", sets.local(0)->szSection);
    EXPECT_EQ(-1, sets.local(0)->dest_type);
}

// Sixteen processes add sets at once, to a file that none of them finds: every add creates the
// file or appends its section whole, so each set is there once, its header and every key line
// whole.
TEST(BackupConfSetOne, SideBySideAddsLeaveWholeSets)
{
    constexpr int kProcs = 16, kEach = 150;
    auto name = [](int p, int i) {
        char text[32];
        snprintf(text, sizeof text, "set-%02d-%03d", p, i);
        return std::string(text);
    };
    // The key lines of a set named n.
    auto keyLines = [](const std::string &n) {
        return std::set<std::string>{"\tdest_type=\"usb\"",       "\tincrbkp=\"1\"",
                                     "\tdest_id=\"disk-" + n + "\"", "\tdest_share=\"share-" + n + "\"",
                                     "\tbkp_shares=\"public\"",     "\tbkp_apps=\"\"",
                                     "\tlast_bkp_time=\"\"",        "\tlast_bkp_result=\"\""};
    };
    const int failed = side_by_side(kProcs, [&](int p) {
        for (int i = 0; i < kEach; ++i) {
            const std::string n = name(p, i), id = "disk-" + n, share = "share-" + n;
            KORVLOCALBKPCONF set{};
            set.szSection = const_cast<char *>(n.c_str());
            set.dest_type = KORV_LOCALBKP_DEST_USB;
            set.incrbkp = 1;
            set.dest_id = const_cast<char *>(id.c_str());
            set.dest_share = const_cast<char *>(share.c_str());
            set.bkp_shares = const_cast<char *>("public");
            set.bkp_apps = set.last_bkp_time = set.last_bkp_result = const_cast<char *>("");
            if (KORVLocalBkpConfSetOne(nullptr, &set) != 0)
                return 1;
        }
        return 0;
    });
    EXPECT_EQ(0, failed);

    // Each set's lines as the file holds them, blank lines left out.
    std::map<std::string, std::vector<std::vector<std::string>>> found;
    std::vector<std::string> *current = nullptr;
    std::vector<std::string> outside;
    const std::string text = read_file(KORV_LOCALBKP_CONF);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "the file does not end its last line";
            end = text.size();
        }
        const std::string line = text.substr(at, end - at);
        if (line.empty())
            continue;
        if (line.front() == '[' && line.back() == ']') {
            current = &found[line.substr(1, line.size() - 2)].emplace_back();
            continue;
        }
        (current ? *current : outside).push_back(line);
    }
    EXPECT_TRUE(outside.empty()) << outside.size() << " lines before the first header";
    int whole = 0;
    std::vector<std::string> wrong;
    for (int p = 0; p < kProcs; ++p) {
        for (int i = 0; i < kEach; ++i) {
            const std::string n = name(p, i);
            auto it = found.find(n);
            const bool once = it != found.end() && it->second.size() == 1;
            if (once && std::set<std::string>(it->second[0].begin(), it->second[0].end()) == keyLines(n) &&
                it->second[0].size() == keyLines(n).size())
                ++whole;
            else if (wrong.size() < 3)
                wrong.push_back(n);
        }
    }
    EXPECT_EQ(kProcs * kEach, whole) << "sets not found once and whole, such as " << testing::PrintToString(wrong);
    EXPECT_EQ(static_cast<size_t>(kProcs * kEach), found.size()) << "headers of no set written";
    Sets sets(BACKUP_TYPE_LOCALBKP);
    EXPECT_EQ(kProcs * kEach, sets.count);
}

// The first adds of a missing file side by side: one creates it, the others find it made
// between their look and their create, and add to it all the same. The race is narrow: rounds.
TEST(BackupConfSetOne, FirstAddsSideBySideAllSucceed)
{
    constexpr int kRounds = 30, kProcs = 16;
    for (int r = 0; r < kRounds; ++r) {
        remove_tree(KORV_LOCALBKP_CONF);
        const int failed = side_by_side(kProcs, [](int p) {
            const std::string n = "first-" + std::to_string(p);
            KORVLOCALBKPCONF set{};
            set.szSection = const_cast<char *>(n.c_str());
            return KORVLocalBkpConfSetOne(nullptr, &set) == 0 ? 0 : 1;
        });
        ASSERT_EQ(0, failed) << "round " << r;
        Sets sets(BACKUP_TYPE_LOCALBKP);
        ASSERT_EQ(kProcs, sets.count) << "round " << r;
        struct stat st;
        ASSERT_EQ(0, stat(KORV_LOCALBKP_CONF, &st));
        EXPECT_EQ(0600u, st.st_mode & 07777);
    }
}

TEST(BackupConfSetOne, NullRecordRefused)
{
    mark_error();
    EXPECT_EQ(-1, KORVNetBkpConfSetOne(nullptr, nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    EXPECT_FALSE(file_exists(KORV_NETBKP_CONF));
}

TEST(BackupConfFreeAll, BadKindLoggedAndNothingFreed)
{
    write_file(KORV_NETBKP_CONF, "[one]\n");
    Sets sets(BACKUP_TYPE_NETBKP);
    ASSERT_EQ(1, sets.count);
    KORVBackupConfFreeAll(sets.items, sets.count, 2);
    EXPECT_TRUE(syslog_has_pattern("backup_conf_free_all.cpp:<L> Failed to free backup conf struct due to bad "
                                   "backup type [2]!"))
        << syslog_dump();
    EXPECT_STREQ("one", sets.net(0)->szSection);  // still there, freed by the holder
}

TEST(BackupConfAlloc, RefusesMissingName)
{
    mark_error();
    PKORLSZHASH keys = PshKORLSzHashAlloc(0);
    EXPECT_EQ(nullptr, KORVNetBkpConfAlloc("", keys));
    EXPECT_EQ(nullptr, KORVLocalBkpConfAlloc(nullptr, keys));
    EXPECT_EQ(nullptr, KORVNetBkpConfAlloc("x", nullptr));
    EXPECT_EQ(KORL_ERR_BAD_PARAM, KORLErrGet());
    KORLSzHashFree(keys);
}

}  // namespace
