// Record-store files opened through the platform: a fault named at open time fails the puts or
// deletes of that one store, and only what it stops is logged.
#include <errno.h>
#include <fcntl.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korv/platform_store.h"
#include "korv/simctl.h"

namespace ctl = korvsim::ctl;

namespace {

constexpr const char *kStore = "/tmp/.db.test.0947";

struct StoreCase {
    const char *label;
    const char *device;   // the fault's device
    const char *request;
    bool once;
    uint64_t skip;
    bool beforeOpen;      // the fault is there when the store is opened
    std::vector<int> results;  // put "a", put "b", put "c", delete "a"
    size_t logged;             // requests stopped
};

const StoreCase kCases[] = {
    {"SecondPutOnce", kStore, "PUT", true, 1, true, {0, -1, 0, 0}, 1},
    {"EveryPut", kStore, "PUT", false, 0, true, {-1, -1, -1, 1}, 3},
    {"DeleteOnce", kStore, "DEL", true, 0, true, {0, 0, 0, -1}, 1},
    {"AnyStore", "*", "PUT", true, 0, true, {-1, 0, 0, 1}, 1},
    {"OtherStore", "/tmp/.db.other.0947", "PUT", false, 0, true, {0, 0, 0, 0}, 0},
    {"NamedAfterTheOpen", kStore, "PUT", false, 0, false, {0, 0, 0, 0}, 0},
    {"DeviceRequestOnly", kStore, "WRITE", false, 0, true, {0, 0, 0, 0}, 0},
};

void PrintTo(const StoreCase &c, std::ostream *os)
{
    *os << c.label;
}

DBT dbt(const char *text)
{
    DBT d{};
    d.data = const_cast<char *>(text);
    d.size = strlen(text) + 1;
    return d;
}

class SimStore : public testing::TestWithParam<StoreCase> {};

TEST_P(SimStore, FaultsOfOneStore)
{
    const StoreCase &c = GetParam();
    ctl::clear_faults();
    ctl::clear_requests();
    auto fault = [&] { ctl::fail_request(c.device, c.request, ENOSPC, c.once, c.skip); };
    if (c.beforeOpen)
        fault();
    DB *db = korv_plat_dbopen(kStore, O_RDWR | O_CREAT, 0600, DB_BTREE, nullptr);
    ASSERT_NE(db, nullptr);
    if (!c.beforeOpen)
        fault();

    std::vector<int> got;
    for (const char *key : {"a", "b", "c"}) {
        DBT k = dbt(key), v = dbt("value");
        errno = 0;
        int r = db->put(db, &k, &v, 0);
        got.push_back(r);
        if (r < 0) {
            EXPECT_EQ(ENOSPC, errno) << key;
        }
    }
    DBT k = dbt("a");
    errno = 0;
    got.push_back(db->del(db, &k, 0));
    if (got.back() < 0) {
        EXPECT_EQ(ENOSPC, errno);
    }
    EXPECT_EQ(c.results, got);

    // What passed is stored; what was stopped is not.
    for (int i = 0; i < 3; i++) {
        const char *key = i == 0 ? "a" : i == 1 ? "b" : "c";
        DBT kk = dbt(key), v{};
        const bool stored = c.results[i] == 0 && !(i == 0 && c.results[3] == 0);
        EXPECT_EQ(stored ? 0 : 1, db->get(db, &kk, &v, 0)) << key;
    }
    EXPECT_GE(db->fd(db), 0);
    EXPECT_EQ(0, db->sync(db, 0));
    EXPECT_EQ(0, db->close(db));

    const auto stopped = ctl::requests(kStore, c.request);
    EXPECT_EQ(c.logged, stopped.size());
    for (const auto &r : stopped)
        EXPECT_EQ(std::string(kStore) + " " + c.request + " - -> -1 ENOSPC", r.line);
    // The store opened again is whole.
    ctl::clear_faults();
    db = korv_plat_dbopen(kStore, O_RDWR, 0600, DB_BTREE, nullptr);
    ASSERT_NE(db, nullptr);
    DBT kb = dbt("b"), v{};
    EXPECT_EQ(c.results[1] == 0 ? 0 : 1, db->get(db, &kb, &v, 0));
    EXPECT_EQ(0, db->close(db));
}

INSTANTIATE_TEST_SUITE_P(Cases, SimStore, testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.label); });

}  // namespace
