// The user database against the bare Berkeley DB work underneath it: the build of the stores
// from /etc/passwd and friends against the same puts into the same kind of stores, and lookups
// by name and by uid against the same gets. The library and the bare side alternate in rounds
// (the order within a round alternating too), so that the machine's other work weighs on both
// alike; each round's ratio is library over bare, and the figure is the median of the rounds'
// ratios at 1,000, 10,000 and 100,000 users. Targets: the build within 1.5 times the bare puts,
// the lookups within 1.3 times the bare gets.
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
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "korv/user.h"
#include "korv/wins.h"
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
    // A unit always has its settings and samba's; the build asks them whether domain accounts
    // belong in (here they do not: samba runs, but not in a domain).
    writeFile("/etc/korvinfo.conf", "codepage=\"enu\"\nrunsamba=\"yes\"\n", 0644);
    writeFile(KORV_SMB_CONF, "[global]\n\tworkgroup = WORKGROUP\n\tsecurity = user\n", 0644);
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

// ---- the two sides of each comparison ----

const char *const kBarePaths[] = {"/tmp/bare.name", "/tmp/bare.misc", "/tmp/bare.shadow", "/tmp/bare.smb",
                                  "/tmp/bare.uid"};

bool LibraryBuild(Users &)
{
    return KORVUserDBRebuild() == 0;
}

bool BarePuts(Users &u)
{
    const std::vector<std::pair<std::string, std::string>> *records[] = {&u.name, &u.misc, &u.shadow, &u.smb, &u.uid};
    for (int s = 0; s < 5; s++) {
        unlink(kBarePaths[s]);
        DB *db = bareOpen(kBarePaths[s], O_RDWR | O_CREAT, s == 4);
        barePut(db, *records[s]);
        db->sync(db, 0);
        db->close(db);
    }
    return true;
}

// Lookups in rounds of this many, each from its place in a shuffled order.
constexpr int kLookups = 2000;
size_t gNext = 0;

bool LibraryGetByName(Users &u)
{
    const auto &o = order(u.n);
    KORVUSERDB *set = KORVUserDBOpen();
    KORVUSER *user = nullptr;
    bool ok = set != nullptr;
    for (int i = 0; ok && i < kLookups; i++)
        ok = KORVUserDBGet(set, u.keys[static_cast<size_t>(o[gNext++ % o.size()])].c_str(), &user) == 0;
    KORVUserFree(user);
    KORVUserDBClose(set);
    return ok;
}

// The gets a lookup by name makes: the passwd, shadow and misc records.
bool BareGetByName(Users &u)
{
    const auto &o = order(u.n);
    BareSet db;
    bool ok = true;
    for (int i = 0; ok && i < kLookups; i++) {
        const std::string &key = u.keys[static_cast<size_t>(o[gNext++ % o.size()])];
        DBT d{};
        ok = bareGet(db.name, key, d) == 0 && bareGet(db.shadow, key, d) == 0 && bareGet(db.misc, key, d) == 0;
        benchmark::DoNotOptimize(d.data);
    }
    return ok;
}

// A lookup by uid inside the database: the uid record, then the user by its name.
bool LibraryGetByUid(Users &u)
{
    const auto &o = order(u.n);
    KORVUSERDB *set = KORVUserDBOpen();
    KORVUSER *user = nullptr;
    void *name = nullptr;
    int cbName = 0;
    bool ok = set != nullptr;
    for (int i = 0; ok && i < kLookups; i++) {
        const std::string &id = u.uidKeys[static_cast<size_t>(o[gNext++ % o.size()])];
        ok = KORVBDbGet(set->pPWDUID, id.c_str(), static_cast<int>(id.size()) + 1, &name, &cbName) == 0 &&
             KORVUserDBGet(set, static_cast<char *>(name), &user) == 0;
    }
    KORVBDbFree(name);
    KORVUserFree(user);
    KORVUserDBClose(set);
    return ok;
}

bool BareGetByUid(Users &u)
{
    const auto &o = order(u.n);
    BareSet db;
    bool ok = true;
    for (int i = 0; ok && i < kLookups; i++) {
        size_t at = static_cast<size_t>(o[gNext++ % o.size()]);
        DBT d{};
        if (bareGet(db.uid, u.uidKeys[at], d) != 0)
            return false;
        std::string key(static_cast<const char *>(d.data));
        ok = bareGet(db.name, key, d) == 0 && bareGet(db.shadow, key, d) == 0 && bareGet(db.misc, key, d) == 0;
        benchmark::DoNotOptimize(d.data);
    }
    return ok;
}

struct Comparison {
    const char *name;
    bool (*library)(Users &);
    bool (*bare)(Users &);
    double target;
};
const Comparison kComparisons[] = {
    {"build / bare puts", LibraryBuild, BarePuts, 1.5},
    {"get by name / bare gets", LibraryGetByName, BareGetByName, 1.3},
    {"get by uid / bare gets", LibraryGetByUid, BareGetByUid, 1.3},
};

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The processor time this process has used, in seconds: unlike the wall clock, barely moved by
// the machine's other work.
double CpuSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The rounds' ratios, by comparison and number of users: of the wall-clock times, and of the
// processor times.
std::map<std::pair<int, int>, std::vector<double>> gRatios, gCpuRatios;

// One round per iteration: the library side and the bare side once each, the library first in
// even rounds; the iteration's time is the library side's.
void BM_LibraryOverBare(benchmark::State &state)
{
    const Comparison &c = kComparisons[state.range(0)];
    int n = static_cast<int>(state.range(1));
    Users &u = prepare(n);
    c.library(u);  // both warm: the stores and the files in the page cache
    c.bare(u);
    std::vector<double> &ratios = gRatios[{static_cast<int>(state.range(0)), n}];
    std::vector<double> &cpuRatios = gCpuRatios[{static_cast<int>(state.range(0)), n}];
    ratios.clear();
    cpuRatios.clear();
    for (auto _ : state) {
        double lib = 0, bare = 0, libCpu = 0, bareCpu = 0;
        bool ok = true;
        for (int side = 0; side < 2; side++) {
            bool library = (side == 0) == (ratios.size() % 2 == 0);
            double c0 = CpuSeconds();
            auto t0 = std::chrono::steady_clock::now();
            ok &= library ? c.library(u) : c.bare(u);
            auto t1 = std::chrono::steady_clock::now();
            double c1 = CpuSeconds();
            (library ? lib : bare) = Seconds(t0, t1);
            (library ? libCpu : bareCpu) = c1 - c0;
        }
        if (!ok)
            state.SkipWithError("a side failed");
        ratios.push_back(lib / bare);
        cpuRatios.push_back(libCpu / bareCpu);
        state.SetIterationTime(lib);
    }
    state.counters["ratio_median"] = Median(ratios);
    state.SetLabel(c.name);
}

void Sizes(benchmark::internal::Benchmark *b)
{
    for (int c = 0; c < static_cast<int>(std::size(kComparisons)); c++)
        for (int n : {1000, 10000, 100000})
            b->Args({c, n});
}
BENCHMARK(BM_LibraryOverBare)->Apply(Sizes)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_UserGetByUidLocked)->Arg(10000);

void PrintRatios()
{
    printf("\n%-26s %8s %8s %8s %8s %8s  %s\n", "library / bare", "users", "rounds", "median", "cpu med", "target",
           "ratios");
    for (const auto &[key, ratios] : gRatios) {
        const Comparison &c = kComparisons[key.first];
        printf("%-26s %8d %8zu %8.3f %8.3f %8.2f ", c.name, key.second, ratios.size(), Median(ratios),
               Median(gCpuRatios[key]), c.target);
        for (double r : ratios)
            printf(" %.2f", r);
        printf("\n");
    }
    printf("median: of the rounds' wall-clock ratios; cpu med: of their processor-time ratios, which the\n"
           "machine's other work hardly moves (read that one on a busy machine)\n");
}

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
    benchmark::RunSpecifiedBenchmarks();
    PrintRatios();
    benchmark::Shutdown();
    return 0;
}
