// A whole update of a RedBoot flash (4, 16 and 64 MiB), all eight partitions written, against
// the bare work that it must do: the flash directory read, the programs every update runs (the
// RAID setting, the system disk's two partitions, the two crontab filters, the clean-shutdown
// mark), the same backup copies through the shell, per partition one erase, the image written in
// 16 KiB chunks, read back in 8 KiB chunks and its directory entry rewritten, through the same
// kernel interface, and the backup removed at the end; its commands go through the library's
// runner, as the updater's do. Each side runs in a freshly started process of its own (the updater, and this program
// again with --bare-io), so both start cold; the two alternate round by round, each on a flash
// laid out anew, and the order within a round alternates too. Printed: every round's pair and
// ratio, of the wall clock and of the processor time of each side's process tree, and the medians
// of the ratios (target: at most 1.15), then the bytes each partition had erased, written and
// read in the update against the least it needs, from the request log.
//
// The updater writes the device's real paths, so this program (linked with the simulated kernel)
// only starts inside a device tree: korv-bench-update (bench_launcher.cpp) runs it in a fresh
// one through korv-sandbox, with the program `updater` beside it.
//
// Run: build/bin/korv-bench-update [--benchmark_filter=...]
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "device_tree.h"
#include "korv/mtd.h"
#include "korv/platform.h"
#include "korv/simctl.h"
#include "korv_command.h"

namespace ctl = korvsim::ctl;

namespace {

constexpr uint32_t kBlock = 0x10000;
const char kWork[] = "/volume1/upd@te";
std::string gSelfDir;  // the folder of this program, as seen inside the tree

struct Partition {
    const char *name;
    const char *file;
    int device;
    uint32_t blocks;
    uint32_t image;  // bytes of the new image
};

// In address order at 16 MiB, 256 blocks of 64 KiB; the three large partitions and their images
// grow and shrink with the flash, the rest stays.
const Partition kLayout16[] = {
    {"zImage", "zImage", 1, 64, 0x3C1234},
    {"rd.gz", "rd.bin", 2, 96, 0x5A0777},
    {"AllLib.tgz", "AllLib.tgz", 3, 84, 0x502345},
    {"vendor", "vendor", 4, 1, 0x10000},
    {"korvcfg", "korvcfg", 5, 1, 0x9000},
    {"RedBoot Config", "RedBoot Config", 6, 1, 0x10000},
    {"RedBoot", "RedBoot.msys", 0, 8, 0x71000},
    {"FIS Directory", "FIS Directory", 7, 1, 8 * 256},
};
constexpr uint32_t kFixedBlocks = 12, kLargeBlocks16 = 244;

// The layout of a flash of `mib` MiB.
std::vector<Partition> Layout(int mib)
{
    uint32_t large = static_cast<uint32_t>(mib) * 16 - kFixedBlocks;
    std::vector<Partition> out;
    uint32_t given = 0;
    for (size_t i = 0; i < std::size(kLayout16); ++i) {
        Partition p = kLayout16[i];
        if (i < 3) {
            uint32_t blocks = i < 2 ? p.blocks * large / kLargeBlocks16 : large - given;
            p.image = static_cast<uint32_t>(uint64_t(p.image) * blocks / p.blocks);
            p.blocks = blocks;
            given += blocks;
        }
        out.push_back(p);
    }
    return out;
}

std::vector<Partition> kLayout = Layout(16);

std::string Device(const Partition &p)
{
    return "/dev/mtd" + std::to_string(p.device);
}

void Fail(const std::string &what)
{
    fprintf(stderr, "korv-bench-update: %s\n", what.c_str());
    exit(1);
}

// The unit as it stands before each run: the old firmware on a flash of `mib` MiB, the package
// beside it (laid out again only when the size changes).
void LayOut(int mib)
{
    static int laid = 0;
    kLayout = Layout(mib);
    korvtest::RedBootOptions flash;
    for (const Partition &p : kLayout)
        flash.layout.push_back({p.name, p.device, p.blocks, p.blocks * kBlock - 0x1000});
    if (laid != mib) {
        korvtest::UpdateTree tree;
        // A unit of a recent build: the flash work and the steps of every update, not the
        // migrations of old builds, are what the bare side stands for.
        tree.identity.buildnumber = "950";
        tree.package.buildnumber = "1000";
        tree.redboot = flash;
        for (const Partition &p : kLayout)
            if (strcmp(p.name, "FIS Directory") != 0)
                tree.package.images[p.file] = p.image;
        korvtest::build_update_tree(tree);
        // The new directory: the partitions where they are, with the new images' lengths.
        std::vector<uint8_t> dir;
        for (auto e : ctl::read_fis(7)) {
            for (const Partition &p : kLayout)
                if (e.name == p.name)
                    e.data_length = p.image;
            auto packed = ctl::fis_pack(e);
            dir.insert(dir.end(), packed.begin(), packed.end());
        }
        FILE *f = fopen((std::string(kWork) + "/FIS Directory").c_str(), "wb");
        if (!f || fwrite(dir.data(), 1, dir.size(), f) != dir.size() || fclose(f) != 0)
            Fail("cannot write the directory image");
        if (system(("/bin/cp " + gSelfDir + "/updater '" + kWork + "/updater'").c_str()) != 0)
            Fail("cannot copy the updater into the tree");
        laid = mib;
    } else {
        korvtest::build_redboot_flash(flash);
    }
    ctl::clear_requests();
}

// What one side's run took: the wall clock, and the processor time of its whole process tree
// (the program and every command it waited for), which the machine's other work hardly moves.
struct Took {
    bool ok = false;
    double ms = 0, cpu_ms = 0;
};

// Runs a program of the tree to its end, its output thrown away.
Took Run(const std::vector<std::string> &argv)
{
    Took took;
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage ru {};
    pid_t done = wait4(pid, &status, 0, &ru);
    auto t1 = std::chrono::steady_clock::now();
    took.ok = done == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    took.ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
    auto ms = [](const struct timeval &tv) { return static_cast<double>(tv.tv_sec) * 1e3 + tv.tv_usec / 1e3; };
    took.cpu_ms = ms(ru.ru_utime) + ms(ru.ru_stime);
    return took;
}

// One run of the updater in the tree, started as the device starts it.
Took RunUpdate()
{
    return Run({std::string(kWork) + "/updater"});
}

// The bare I/O in a process of its own, started as fresh as the updater.
Took RunBareIO(int mib)
{
    return Run({gSelfDir + "/korv-bench-update-inside", "--bare-io", std::to_string(mib)});
}

// A command line run as the updater runs its own.
bool Shell(const std::string &cmd)
{
    return korv::proc::Succeeded(korv::proc::RunShell(cmd.c_str()));
}

// What the update must do at the least, by hand through the same kernel interface: the flash
// directory read once, the programs of every update and the same backup copies (one command
// each, as the updater runs them), then
// per partition one erase, the image in 16 KiB chunks, its read-back in 8 KiB chunks against the
// image and its directory entry rewritten, and at the end the backup removed. False when any of
// it failed.
bool BareIO()
{
    bool ok = true;
    int size = 0;
    ok &= KORVMTDGetPartitionInfo("/dev/mtd7", nullptr, 0, &size) >= 0 && size > 0;
    std::vector<KORVMTDFISENTRY> dir(static_cast<size_t>(std::max(size, 0)) / sizeof(KORVMTDFISENTRY) + 1);
    int count = KORVMTDGetPartitionInfo("/dev/mtd7", dir.data(), size, &size);
    ok &= count > 0;
    dir.resize(static_cast<size_t>(std::max(count, 0)));
    // The programs every update runs before it writes: the model's RAID setting and the system
    // disk's two partitions.
    char line[256];
    ok &= korv::proc::FirstLine("/bin/get_key_value /etc.defaults/korvinfo.conf supportraid", line, sizeof line) >= 0;
    ok &= korv::proc::FirstLine("/sbin/sfdisk -l -uS -N1 /dev/hda", line, sizeof line) == 1;
    ok &= korv::proc::FirstLine("/sbin/sfdisk -l -uS -N3 /dev/hda", line, sizeof line) == 1;
    std::string cmd = std::string("/bin/rm -rf ") + kWork + "/b@ckup; /bin/mkdir -p " + kWork + "/b@ckup";
    ok &= Shell(cmd);
    for (const Partition &p : kLayout) {
        cmd = "/bin/dd if=\"" + Device(p) + "\" of=\"" + kWork + "/b@ckup/mtd_" + p.name + "\" bs=16384 2>/dev/null";
        ok &= Shell(cmd);
    }
    std::vector<uint8_t> chunk(16384), image(8192), back(8192);
    for (const Partition &p : kLayout) {
        std::string dev = Device(p);
        ok &= KORVMTDErasePartition(dev.c_str()) == 0;
        int in = open((std::string(kWork) + "/" + p.file).c_str(), O_RDONLY);
        int out = korv_plat_open(dev.c_str(), O_WRONLY);
        ssize_t n;
        while ((n = read(in, chunk.data(), chunk.size())) > 0)
            ok &= korv_plat_write(out, chunk.data(), static_cast<size_t>(n)) == n;
        korv_plat_close(out);
        close(in);
        // The read-back compares with the image as the package holds it, read again.
        in = open((std::string(kWork) + "/" + p.file).c_str(), O_RDONLY);
        int dv = korv_plat_open(dev.c_str(), O_RDONLY);
        while ((n = read(in, image.data(), image.size())) > 0)
            ok &= korv_plat_read(dv, back.data(), static_cast<size_t>(n)) == n &&
                  memcmp(back.data(), image.data(), static_cast<size_t>(n)) == 0;
        korv_plat_close(dv);
        close(in);
        KORVMTDFISMOD mod{};
        strncpy(mod.name, p.name, sizeof mod.name - 1);
        for (const KORVMTDFISENTRY &e : dir)
            if (strncmp(e.name, p.name, sizeof e.name) == 0) {
                mod.flash_base = e.flash_base;
                mod.size = e.size;
            }
        mod.data_length = p.image;
        ok &= KORVMTDModifyFISEntry("/dev/mtd7", &mod) == 0;
    }
    // The steps of every update: the two crontab filters, each a grep into a copy put in the
    // crontab's place, and the clean-shutdown mark.
    for (const char *pattern : {"vacuumdb", "'/bin/rm -f /var/log/\\*.html'"}) {
        ok &= korv::proc::RunShell((std::string("grep -v ") + pattern + " /etc/crontab > /etc/crontab.bare").c_str()) != -1;
        ok &= rename("/etc/crontab.bare", "/etc/crontab") == 0;
    }
    ok &= Shell("touch /.NormalShutdown");
    // The backup goes once the flash holds the new firmware, as the update removes its own.
    cmd = std::string("/bin/rm -rf ") + kWork + "/b@ckup";
    ok &= Shell(cmd);
    return ok;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Each round's two times, by flash size.
struct Round {
    double update_ms, bare_ms;
    double update_cpu_ms, bare_cpu_ms;
};
std::map<int, std::vector<Round>> gRounds;

// One round per iteration: the update and the bare I/O, each on a flash laid out anew, in turn
// (the update first in even rounds, the bare I/O first in odd ones), so that the machine's other
// work weighs on both alike.
void BM_UpdateOverBareIO(benchmark::State &state)
{
    int mib = static_cast<int>(state.range(0));
    std::vector<Round> &rounds = gRounds[mib];
    rounds.clear();
    for (auto _ : state) {
        bool ok = true;
        Round r{};
        for (int side = 0; side < 2; ++side) {
            bool update = (side == 0) == (rounds.size() % 2 == 0);
            LayOut(mib);
            Took took = update ? RunUpdate() : RunBareIO(mib);
            if (!took.ok)
                fprintf(stderr, "korv-bench-update: round %zu: the %s failed\n", rounds.size() + 1,
                        update ? "update" : "bare I/O");
            ok &= took.ok;
            (update ? r.update_ms : r.bare_ms) = took.ms;
            (update ? r.update_cpu_ms : r.bare_cpu_ms) = took.cpu_ms;
        }
        if (!ok)
            state.SkipWithError("a run failed");
        rounds.push_back(r);
        state.SetIterationTime(r.update_ms / 1000);
    }
    std::vector<double> ratios, cpu;
    for (const Round &r : rounds) {
        ratios.push_back(r.update_ms / r.bare_ms);
        cpu.push_back(r.update_cpu_ms / r.bare_cpu_ms);
    }
    state.counters["ratio_median"] = Median(ratios);
    state.counters["cpu_ratio_median"] = Median(cpu);
}

BENCHMARK(BM_UpdateOverBareIO)->Arg(4)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(11);

// Bytes of a device's requests in its write attempt, from the request log of one update.
struct Bytes {
    uint64_t erased = 0, written = 0, read = 0;
    uint64_t twice = 0;  // bytes erased, written or read again within the attempt
};

uint64_t Field(const std::string &args, const char *key)
{
    size_t at = args.find(key);
    return at == std::string::npos ? 0 : strtoull(args.c_str() + at + strlen(key), nullptr, 0);
}

// Bytes covered more than once by the ranges.
uint64_t Overlap(std::vector<std::pair<uint64_t, uint64_t>> ranges)
{
    std::sort(ranges.begin(), ranges.end());
    uint64_t twice = 0, reach = 0;
    for (const auto &[start, end] : ranges) {
        if (start < reach)
            twice += std::min(reach, end) - start;
        reach = std::max(reach, end);
    }
    return twice;
}

// The bytes of one update of a 16 MiB flash, per device, from the request log: the attempt of
// each written partition (from its sizing on), and before it the reads of the flash directory
// (the analysis and the start of the write read it through the driver).
void PrintBytes()
{
    LayOut(16);
    if (!RunUpdate().ok)
        Fail("the update failed");
    std::map<std::string, Bytes> by;
    std::map<std::string, uint64_t> before;  // bytes read before the device's attempt
    std::map<std::string, int> entries;      // directory entries rewritten
    std::map<std::string, std::vector<std::pair<uint64_t, uint64_t>>> erases, writes, reads;
    std::map<std::string, bool> started;  // the device's attempt began (its partition sized)
    for (const auto &q : ctl::requests()) {
        if (q.name == "MTD_SET_PARTITION")
            started[q.device] = true;
        if (q.result < 0)
            continue;
        if (q.name == "MTD_SET_FIS_ENTRY")
            entries[q.device]++;
        if (!started[q.device]) {
            if (q.name == "READ")
                before[q.device] += static_cast<uint64_t>(q.result);
            continue;
        }
        Bytes &b = by[q.device];
        if (q.name == "MEMERASE") {
            uint64_t len = Field(q.args, "length=");
            b.erased += len;
            erases[q.device].push_back({Field(q.args, "start="), Field(q.args, "start=") + len});
        } else if (q.name == "WRITE" || q.name == "READ") {
            uint64_t off = Field(q.args, "offset="), n = static_cast<uint64_t>(q.result);
            (q.name == "WRITE" ? b.written : b.read) += n;
            (q.name == "WRITE" ? writes : reads)[q.device].push_back({off, off + n});
        }
    }
    printf("\nbytes of one update of a 16 MiB flash, by device (\"least\": what the partition needs)\n");
    printf("%-16s %-10s %10s %10s %10s %10s %10s %10s %8s %8s %7s\n", "partition", "device", "erased", "least",
           "written", "least", "read", "least", "twice", "dir read", "entries");
    for (const Partition &p : kLayout) {
        std::string dev = Device(p);
        Bytes &b = by[dev];
        b.twice = Overlap(erases[dev]) + Overlap(writes[dev]) + Overlap(reads[dev]);
        printf("%-16s %-10s %10llu %10llu %10llu %10llu %10llu %10llu %8llu %8llu %7d\n", p.name, dev.c_str(),
               static_cast<unsigned long long>(b.erased), static_cast<unsigned long long>(p.blocks * kBlock),
               static_cast<unsigned long long>(b.written), static_cast<unsigned long long>(p.image),
               static_cast<unsigned long long>(b.read), static_cast<unsigned long long>(p.image),
               static_cast<unsigned long long>(b.twice), static_cast<unsigned long long>(before[dev]), entries[dev]);
    }
    printf("dir read: bytes read before the partition's write began (the analysis and the write's start read\n"
           "the flash directory); entries: directory entries rewritten through the driver's request, which\n"
           "rewrites its directory block itself (those bytes are the driver's, not in \"written\")\n");
}

void PrintRounds()
{
    for (const auto &[mib, rounds] : gRounds) {
        if (rounds.empty())
            continue;
        printf("\nwhole update against its bare I/O, %d MiB flash, %zu rounds (each side a fresh process):\n", mib,
               rounds.size());
        std::vector<double> ratios, cpu;
        for (size_t i = 0; i < rounds.size(); ++i) {
            const Round &r = rounds[i];
            ratios.push_back(r.update_ms / r.bare_ms);
            cpu.push_back(r.update_cpu_ms / r.bare_cpu_ms);
            printf("  round %2zu (%s first): update %8.1f ms, bare I/O %8.1f ms, ratio %.3f; processor time "
                   "%7.1f ms, %7.1f ms, ratio %.3f\n",
                   i + 1, i % 2 ? "bare" : "update", r.update_ms, r.bare_ms, ratios.back(), r.update_cpu_ms,
                   r.bare_cpu_ms, cpu.back());
        }
        printf("  median of the rounds' ratios: %.3f (target: at most 1.15)\n", Median(ratios));
        printf("  median of the rounds' processor-time ratios: %.3f (the figure to read on a busy machine)\n",
               Median(cpu));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        Fail("cannot find this program");
    self[n] = '\0';
    gSelfDir.assign(self, strrchr(self, '/') - self);
    if (argc == 3 && strcmp(argv[1], "--bare-io") == 0) {
        kLayout = Layout(atoi(argv[2]));
        return BareIO() ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintRounds();
    PrintBytes();
    benchmark::Shutdown();
    return 0;
}
