// The user database against the bare Berkeley DB work underneath it, in one run: the build of the
// stores from /etc/passwd and friends against the same puts into the same kind of stores, and
// lookups by name and by uid against the same gets. Ratios are printed at the end; lookups should
// stay within 2x of the bare gets and grow as log n (1k, 10k, 100k users), the build within 2x of
// the bare puts.
//
// The library uses the device's real paths ("/etc/passwd", "/tmp/.db.user.*"), so this program
// never measures on the host: korv-bench-store (bench_launcher.cpp) runs it inside a fresh device
// tree through korv-sandbox, which binds the build's bin folder read-only.
//
// Run: build/bin/korv-bench-store [--benchmark_filter=...]
#include <db_185.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "korv/user.h"
#include "sandbox_guard.h"

namespace {

// ---- the device tree's account files for n users ----

struct Users {
    int n = 0;
    std::vector<std::string> names, keys, uidKeys;
    // What the library stores: per store, key -> line (keys and lines with their NUL).
    std::vector<std::pair<std::string, std::string>> name, misc, shadow, smb, uid;
};

std::string withNul(const std::string &s)
{
    return std::string(s.c_str(), s.size() + 1);
}

void writeFile(const char *path, const std::string &text, mode_t mode)
{
    FILE *f = fopen(path, "w");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(1);
    }
    chmod(path, mode);
}

Users &prepare(int n)
{
    static Users u;
    if (u.n == n)
        return u;
    u = Users();
    u.n = n;
    std::string passwd = "root:x:0:0:root:/root:/bin/sh\n", shadow = "root:*:15000:0:99999:7:::\n";
    std::string conf = "#$_@UID__INDEX@_$1024$\n# record user misc, format \"user_name:user_privilege:user_mail\"\n";
    std::string smb;
    u.name.emplace_back(withNul("ROOT"), withNul("root:x:0:0:root:/root:/bin/sh"));
    u.shadow.emplace_back(withNul("ROOT"), withNul("root:*:15000:0:99999:7:::"));
    u.uid.emplace_back(withNul("000000"), withNul("ROOT"));
    char line[512];
    for (int i = 0; i < n; i++) {
        char name[32], key[32], id[16];
        snprintf(name, sizeof name, "user%06d", i);
        snprintf(key, sizeof key, "USER%06d", i);
        snprintf(id, sizeof id, "%06d", 2000 + i);
        u.names.push_back(name);
        u.keys.push_back(key);
        u.uidKeys.push_back(id);
        snprintf(line, sizeof line, "%s:x:%d:100:User %d:/var/services/homes/%s:/bin/csh", name, 2000 + i, i, name);
        passwd += std::string(line) + "\n";
        u.name.emplace_back(withNul(key), withNul(line));
        snprintf(line, sizeof line, "%s:$1$Ab$0123456789abcdefghijkl:15500:0:99999:7:::", name);
        shadow += std::string(line) + "\n";
        u.shadow.emplace_back(withNul(key), withNul(line));
        snprintf(line, sizeof line, "%s:0:%s@example.com", name, name);
        conf += std::string(line) + "\n";
        u.misc.emplace_back(withNul(key), withNul(line));
        snprintf(line, sizeof line,
                 "%s:%d:AAD3B435B51404EEAAD3B435B51404EE:31D6CFE0D16AE931B73C59D7E0C089C0:[U          ]:LCT-5F000000:",
                 name, 2000 + i);
        smb += std::string(line) + "\n";
        u.smb.emplace_back(withNul(key), withNul(line));
        u.uid.emplace_back(withNul(id), withNul(key));
    }
    mkdir("/usr/korv", 0755);
    mkdir("/usr/korv/etc", 0755);
    mkdir("/usr/korv/etc/private", 0700);
    writeFile(KORV_PASSWD_FILE, passwd, 0644);
    writeFile(KORV_SHADOW_FILE, shadow, 0600);
    writeFile(KORV_USER_CONF_FILE, conf, 0644);
    writeFile(KORV_SMBPASSWD_FILE, smb, 0600);
    if (KORVUserDBRebuild() != 0) {
        fprintf(stderr, "the user stores cannot be built\n");
        exit(1);
    }
    return u;
}

const std::vector<int> &order(int n)
{
    static std::map<int, std::vector<int>> cache;
    std::vector<int> &o = cache[n];
    if (o.empty()) {
        o.resize(static_cast<size_t>(n));
        for (int i = 0; i < n; i++)
            o[static_cast<size_t>(i)] = i;
        std::shuffle(o.begin(), o.end(), std::mt19937(12345));
    }
    return o;
}

// ---- the bare Berkeley DB work ----

DB *bareOpen(const char *path, int flags, bool dup)
{
    BTREEINFO info;
    memset(&info, 0, sizeof info);
    info.flags = R_DUP;
    DB *db = dbopen(path, flags, 0600, DB_BTREE, dup ? &info : nullptr);
    if (!db) {
        fprintf(stderr, "dbopen %s failed\n", path);
        exit(1);
    }
    return db;
}

void barePut(DB *db, const std::vector<std::pair<std::string, std::string>> &records)
{
    for (const auto &[k, v] : records) {
        DBT key{const_cast<char *>(k.data()), k.size()}, data{const_cast<char *>(v.data()), v.size()};
        if (db->put(db, &key, &data, 0) != 0)
            exit(1);
    }
}

// The live stores opened for reading directly.
struct BareSet {
    DB *name, *misc, *shadow, *uid;
    BareSet()
        : name(bareOpen("/tmp/.db.user.name.0947", O_RDWR, false)),
          misc(bareOpen("/tmp/.db.user.misc.0947", O_RDWR, false)),
          shadow(bareOpen("/tmp/.db.user.shadow.0947", O_RDWR, false)),
          uid(bareOpen("/tmp/.db.user.uid.0947", O_RDWR, true))
    {
    }
    ~BareSet()
    {
        for (DB *db : {name, misc, shadow, uid})
            db->close(db);
    }
};

int bareGet(DB *db, const std::string &key, DBT &data)
{
    DBT k{const_cast<char *>(key.c_str()), key.size() + 1};
    return db->get(db, &k, &data, 0);
}

// ---- benchmarks ----

void BM_UserBuild(benchmark::State &state)
{
    prepare(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        if (KORVUserDBRebuild() != 0)
            state.SkipWithError("rebuild failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BarePuts(benchmark::State &state)
{
    Users &u = prepare(static_cast<int>(state.range(0)));
    const char *paths[] = {"/tmp/bare.name", "/tmp/bare.misc", "/tmp/bare.shadow", "/tmp/bare.smb", "/tmp/bare.uid"};
    const std::vector<std::pair<std::string, std::string>> *records[] = {&u.name, &u.misc, &u.shadow, &u.smb, &u.uid};
    for (auto _ : state) {
        for (int s = 0; s < 5; s++) {
            unlink(paths[s]);
            DB *db = bareOpen(paths[s], O_RDWR | O_CREAT, s == 4);
            barePut(db, *records[s]);
            db->sync(db, 0);
            db->close(db);
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_UserGetByName(benchmark::State &state)
{
    int n = static_cast<int>(state.range(0));
    Users &u = prepare(n);
    const auto &o = order(n);
    KORVUSERDB *set = KORVUserDBOpen();
    KORVUSER *user = nullptr;
    size_t i = 0;
    for (auto _ : state) {
        if (KORVUserDBGet(set, u.keys[static_cast<size_t>(o[i++ % o.size()])].c_str(), &user) != 0)
            state.SkipWithError("get failed");
    }
    KORVUserFree(user);
    KORVUserDBClose(set);
    state.SetComplexityN(n);
}

// The gets a lookup by name makes: the passwd, shadow and misc records.
void BM_BareGetByName(benchmark::State &state)
{
    int n = static_cast<int>(state.range(0));
    Users &u = prepare(n);
    const auto &o = order(n);
    BareSet db;
    size_t i = 0;
    for (auto _ : state) {
        const std::string &key = u.keys[static_cast<size_t>(o[i++ % o.size()])];
        DBT d{};
        if (bareGet(db.name, key, d) != 0 || bareGet(db.shadow, key, d) != 0 || bareGet(db.misc, key, d) != 0)
            state.SkipWithError("get failed");
        benchmark::DoNotOptimize(d.data);
    }
    state.SetComplexityN(n);
}

// A lookup by uid inside the database: the uid record, then the user by its name.
void BM_UserGetByUid(benchmark::State &state)
{
    int n = static_cast<int>(state.range(0));
    Users &u = prepare(n);
    const auto &o = order(n);
    KORVUSERDB *set = KORVUserDBOpen();
    KORVUSER *user = nullptr;
    void *name = nullptr;
    int cbName = 0;
    size_t i = 0;
    for (auto _ : state) {
        const std::string &id = u.uidKeys[static_cast<size_t>(o[i++ % o.size()])];
        if (KORVBDbGet(set->pPWDUID, id.c_str(), static_cast<int>(id.size()) + 1, &name, &cbName) != 0 ||
            KORVUserDBGet(set, static_cast<char *>(name), &user) != 0)
            state.SkipWithError("get failed");
    }
    KORVBDbFree(name);
    KORVUserFree(user);
    KORVUserDBClose(set);
    state.SetComplexityN(n);
}

void BM_BareGetByUid(benchmark::State &state)
{
    int n = static_cast<int>(state.range(0));
    Users &u = prepare(n);
    const auto &o = order(n);
    BareSet db;
    size_t i = 0;
    for (auto _ : state) {
        size_t at = static_cast<size_t>(o[i++ % o.size()]);
        DBT d{};
        if (bareGet(db.uid, u.uidKeys[at], d) != 0)
            state.SkipWithError("get failed");
        std::string key(static_cast<const char *>(d.data));
        if (bareGet(db.name, key, d) != 0 || bareGet(db.shadow, key, d) != 0 || bareGet(db.misc, key, d) != 0)
            state.SkipWithError("get failed");
        benchmark::DoNotOptimize(d.data);
    }
    state.SetComplexityN(n);
}

// The public lookup by uid as a program makes it: lock_pw, open and check the set, get, close.
void BM_UserGetByUidLocked(benchmark::State &state)
{
    int n = static_cast<int>(state.range(0));
    prepare(n);
    const auto &o = order(n);
    size_t i = 0;
    for (auto _ : state) {
        KORVUSER *user = nullptr;
        if (KORVUserGetByUid(2000 + o[i++ % o.size()], &user) != 0)
            state.SkipWithError("get failed");
        KORVUserFree(user);
    }
}

#define SIZES ->Arg(1000)->Arg(10000)->Arg(100000)
BENCHMARK(BM_UserBuild) SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BarePuts) SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UserGetByName) SIZES->Complexity(benchmark::oLogN);
BENCHMARK(BM_BareGetByName) SIZES->Complexity(benchmark::oLogN);
BENCHMARK(BM_UserGetByUid) SIZES->Complexity(benchmark::oLogN);
BENCHMARK(BM_BareGetByUid) SIZES->Complexity(benchmark::oLogN);
BENCHMARK(BM_UserGetByUidLocked)->Arg(10000);

// The console report, and afterwards each library figure over its bare one.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred)
                continue;
            // The fastest repetition: the machine's other work only ever adds time.
            double t = r.GetAdjustedRealTime() * Scale(r.time_unit);
            auto [at, fresh] = times_.emplace(r.benchmark_name(), t);
            if (!fresh)
                at->second = std::min(at->second, t);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const
    {
        const std::pair<const char *, const char *> pairs[] = {
            {"BM_UserBuild", "BM_BarePuts"}, {"BM_UserGetByName", "BM_BareGetByName"},
            {"BM_UserGetByUid", "BM_BareGetByUid"}};
        printf("\n%-24s %8s %14s %14s %8s\n", "library / bare", "users", "library ns", "bare ns", "ratio");
        for (const auto &[lib, bare] : pairs) {
            for (int n : {1000, 10000, 100000}) {
                std::string a = std::string(lib) + "/" + std::to_string(n), b = std::string(bare) + "/" + std::to_string(n);
                auto x = times_.find(a), y = times_.find(b);
                if (x == times_.end() || y == times_.end())
                    continue;
                printf("%-24s %8d %14.0f %14.0f %8.2f\n", lib + 3, n, x->second, y->second, x->second / y->second);
            }
        }
    }

private:
    static double Scale(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kSecond:
            return 1e9;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kMicrosecond:
            return 1e3;
        default:
            return 1;
        }
    }
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char **argv)
{
    if (!korv_inside_sandbox()) {
        fprintf(stderr, "%s: measures only inside a device tree; run build/bin/korv-bench-store\n", argv[0]);
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
