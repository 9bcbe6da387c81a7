// The configuration stage, the account migrations with it, on a unit with 1,000 and with 10,000
// users, groups and shares: every step that an update from an old build runs, on account files,
// group files and an smb.conf of that size (every share with an "ftp write only" line to
// convert). The work must grow linearly with the accounts: a step that rewrote a file once per
// account would grow with their square. Both sizes are measured in the same run, alternating
// round by round, so the machine's other work weighs on both alike; the figure is the median of
// the rounds' ratios of the 10,000 run over the 1,000 run (target: at most 12, for ten times
// the accounts).
//
// The stage works on the device's real paths, so this program only starts inside a device tree:
// korv-bench-config (bench_launcher.cpp) runs it in a fresh one through korv-sandbox.
//
// Run: build/bin/korv-bench-config [--benchmark_filter=...]
#include <glob.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "device_tree.h"
#include "updater.h"
#include "updater_config.h"
#include "updater_migration.h"

namespace {

// An installed build old enough for every step of the stage to run.
constexpr int kOldBuild = 100;

struct Unit {
    std::string passwd, shadow, group, userconf, smbpasswd, smbconf;
};

Unit MakeUnit(int n)
{
    Unit u;
    u.passwd = "root:x:0:0:root:/root:/bin/sh\nadmin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
               "guest:x:1025:100:Guest:/nonexist:/bin/sh\n";
    u.shadow = "root:*:14000:0:99999:7:::\nadmin:*:14000:0:99999:7:::\nguest:*:14000:0:99999:7:::\n";
    u.group = "root:x:0:\nsmmsp:x:25:smmsp\nusers:x:100:admin,guest\nadministrators:x:101:admin\n";
    u.userconf = "#$_@UID__INDEX@_$1025$\n# record user misc, format \"user_name:user_privilege:user_mail\"\n"
                 "admin:7:\n";
    u.smbconf = "[global]\n\tworkgroup = WORKGROUP\n";
    char line[256];
    for (int i = 0; i < n; ++i) {
        snprintf(line, sizeof line, "user%05d:x:%d:100:User %d:/volume1/homes/user%05d:/bin/sh\n", i, 1026 + i, i, i);
        u.passwd += line;
        snprintf(line, sizeof line, "user%05d:$1$salt%04d$abcdefghijklmnopqrstuv:14000:0:99999:7:::\n", i, i % 10000);
        u.shadow += line;
        snprintf(line, sizeof line, "group%05d:x:%d:user%05d\n", i, 65536 + i, i);
        u.group += line;
        snprintf(line, sizeof line, "user%05d:3:\n", i);
        u.userconf += line;
        snprintf(line, sizeof line,
                 "user%05d:%d:0123456789ABCDEF0123456789ABCDEF:0123456789ABCDEF0123456789ABCDEF:[U          ]:"
                 "LCT-5F000000:\n",
                 i, 1026 + i);
        u.smbpasswd += line;
        snprintf(line, sizeof line, "[share%05d]\n\tpath = /volume1/share%05d\n\tftp write only = %s\n", i, i,
                 i % 2 ? "yes" : "no");
        u.smbconf += line;
    }
    return u;
}

void Put(const char *path, const std::string &text)
{
    FILE *f = fopen(path, "w");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0) {
        fprintf(stderr, "cannot write %s\n", path);
        exit(1);
    }
}

// Lays the unit's files out anew and sets the flags of an update from the old build.
void LayOut(const Unit &u)
{
    // The record stores of the last round describe files about to be replaced.
    glob_t stores = {};
    if (glob("/tmp/.db.*", 0, nullptr, &stores) == 0)
        for (size_t i = 0; i < stores.gl_pathc; ++i)
            unlink(stores.gl_pathv[i]);
    globfree(&stores);
    korvtest::install_accounts();
    Put("/etc/passwd", u.passwd);
    Put("/etc/shadow", u.shadow);
    Put("/etc/group", u.group);
    Put("/etc/korvuser.conf", u.userconf);
    Put("/usr/korv/etc/private/smbpasswd", u.smbpasswd);
    Put("/usr/korv/etc/smb.conf", u.smbconf);
    Put("/etc/korvinfo.conf", "MTUValue=\"9000\"\neth0_mtu=\"1500\"\neventtest=\"yes\"\n");
    for (int i = 0; i < gnUPDTMigrations; ++i)
        if (gUPDTMigrations[i].source == UPDT_BY_BUILD)
            UPDTFlagOf(gUPDTMigrations[i]) = 0;
    UPDTSetUpgradeFlags(kOldBuild);
}

// One stage over a unit of n accounts, in milliseconds.
double StageMs(int n)
{
    static std::map<int, Unit> units;
    if (!units.count(n))
        units[n] = MakeUnit(n);
    LayOut(units[n]);
    auto start = std::chrono::steady_clock::now();
    int result = UPDTUpdateConfig();
    auto end = std::chrono::steady_clock::now();
    if (result != 0) {
        fprintf(stderr, "the configuration stage failed at %d accounts\n", n);
        exit(1);
    }
    // The stage did its work: no share keeps its old FTP option.
    FILE *f = fopen("/usr/korv/etc/smb.conf", "r");
    char line[256];
    while (f && fgets(line, sizeof line, f))
        if (strstr(line, "ftp write only")) {
            fprintf(stderr, "smb.conf still has [%s] at %d accounts\n", line, n);
            exit(1);
        }
    if (f)
        fclose(f);
    return std::chrono::duration<double, std::milli>(end - start).count();
}

struct Round {
    double small_ms, large_ms;
};
std::vector<Round> gRounds;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_ConfigStageLinear(benchmark::State &state)
{
    int round = 0;
    for (auto _ : state) {
        // The order within a round alternates.
        Round r{};
        if (round++ % 2) {
            r.large_ms = StageMs(10000);
            r.small_ms = StageMs(1000);
        } else {
            r.small_ms = StageMs(1000);
            r.large_ms = StageMs(10000);
        }
        gRounds.push_back(r);
        state.SetIterationTime((r.small_ms + r.large_ms) / 1000.0);
    }
}
BENCHMARK(BM_ConfigStageLinear)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);

void BM_ConfigStage(benchmark::State &state)
{
    int n = static_cast<int>(state.range(0));
    for (auto _ : state)
        state.SetIterationTime(StageMs(n) / 1000.0);
    state.counters["accounts"] = n;
}
BENCHMARK(BM_ConfigStage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void PrintRounds()
{
    if (gRounds.empty())
        return;
    printf("\nThe configuration stage at 1,000 and 10,000 users, groups and shares, in the same run:\n");
    std::vector<double> ratios;
    for (size_t i = 0; i < gRounds.size(); ++i) {
        ratios.push_back(gRounds[i].large_ms / gRounds[i].small_ms);
        printf("  round %2zu: 1,000 %8.1f ms, 10,000 %8.1f ms, ratio %.2f\n", i + 1, gRounds[i].small_ms,
               gRounds[i].large_ms, ratios.back());
    }
    printf("  median of the rounds' ratios: %.2f (target: at most 12)\n", Median(ratios));
}

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintRounds();
    benchmark::Shutdown();
    return 0;
}
