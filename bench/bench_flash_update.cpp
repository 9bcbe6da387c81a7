// A whole update of a 16 MiB RedBoot flash, all eight partitions written, against the bare I/O
// that it must do: the same backup copies through the shell, and per partition one erase, the
// image written in 16 KiB chunks and read back in 8 KiB chunks, through the same kernel
// interface. Both run in the same device tree, each on a flash laid out anew, alone and then in
// turn; the ratio of the two is printed at the end (target: within 1.15x), with the bytes each
// partition had erased, written and read in its write attempt against the least it needs, from
// the request log.
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

// In address order, 256 blocks of 64 KiB: 16 MiB from 0xFF000000.
const Partition kLayout[] = {
    {"zImage", "zImage", 1, 64, 0x3C1234},
    {"rd.gz", "rd.bin", 2, 96, 0x5A0777},
    {"AllLib.tgz", "AllLib.tgz", 3, 84, 0x502345},
    {"vendor", "vendor", 4, 1, 0x10000},
    {"korvcfg", "korvcfg", 5, 1, 0x9000},
    {"RedBoot Config", "RedBoot Config", 6, 1, 0x10000},
    {"RedBoot", "RedBoot.msys", 0, 8, 0x71000},
    {"FIS Directory", "FIS Directory", 7, 1, 8 * 256},
};

std::string Device(const Partition &p)
{
    return "/dev/mtd" + std::to_string(p.device);
}

void Fail(const std::string &what)
{
    fprintf(stderr, "korv-bench-update: %s\n", what.c_str());
    exit(1);
}

// The unit as it stands before each run: the old firmware on the flash, the package beside it.
void LayOut()
{
    korvtest::RedBootOptions flash;
    for (const Partition &p : kLayout)
        flash.layout.push_back({p.name, p.device, p.blocks, p.blocks * kBlock - 0x1000});
    static bool once = false;
    if (!once) {
        korvtest::UpdateTree tree;
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
        once = true;
    } else {
        korvtest::build_redboot_flash(flash);
    }
    ctl::clear_requests();
}

// One run of the updater in the tree; false when it failed.
bool RunUpdate()
{
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl((std::string(kWork) + "/updater").c_str(), "/volume1/upd@te/updater", static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What the update must do at the least, by hand through the same kernel interface: the same
// backup copies (one command each, as the updater runs them), then per partition one erase, the
// image in 16 KiB chunks and its read-back in 8 KiB chunks against the image. False when any of
// it failed.
bool BareIO()
{
    bool ok = true;
    std::string cmd = std::string("/bin/rm -rf ") + kWork + "/b@ckup; /bin/mkdir -p " + kWork + "/b@ckup";
    ok &= system(cmd.c_str()) == 0;
    for (const Partition &p : kLayout) {
        cmd = "/bin/dd if=\"" + Device(p) + "\" of=\"" + kWork + "/b@ckup/mtd_" + p.name + "\" bs=16384 2>/dev/null";
        ok &= system(cmd.c_str()) == 0;
    }
    std::vector<uint8_t> chunk(16384), image(8192), back(8192);
    for (size_t i = 0; i < std::size(kLayout); ++i) {
        const Partition &p = kLayout[i];
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
    }
    return ok;
}

void BM_Update(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        LayOut();
        state.ResumeTiming();
        if (!RunUpdate())
            state.SkipWithError("the update failed");
    }
}

void BM_BareIO(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        LayOut();
        state.ResumeTiming();
        if (!BareIO())
            state.SkipWithError("the bare I/O failed");
    }
}

double Ms(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The two in turn, each on a flash laid out anew, so that the machine's other work weighs on
// both alike; the ratio of the fastest of each.
std::vector<double> gUpdateMs, gBareMs;

void BM_UpdateOverBareIO(benchmark::State &state)
{
    for (auto _ : state) {
        LayOut();
        auto t0 = std::chrono::steady_clock::now();
        bool ok = RunUpdate();
        auto t1 = std::chrono::steady_clock::now();
        LayOut();
        auto t2 = std::chrono::steady_clock::now();
        ok &= BareIO();
        auto t3 = std::chrono::steady_clock::now();
        if (!ok)
            state.SkipWithError("a run failed");
        gUpdateMs.push_back(Ms(t0, t1));
        gBareMs.push_back(Ms(t2, t3));
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    double u = *std::min_element(gUpdateMs.begin(), gUpdateMs.end());
    double b = *std::min_element(gBareMs.begin(), gBareMs.end());
    state.counters["update_ms"] = u;
    state.counters["bare_ms"] = b;
    state.counters["ratio"] = u / b;
}

BENCHMARK(BM_Update)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_BareIO)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_UpdateOverBareIO)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(15);

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

void PrintBytes()
{
    LayOut();
    if (system((std::string(kWork) + "/updater >/dev/null 2>&1").c_str()) != 0)
        Fail("the update failed");
    std::map<std::string, Bytes> by;
    std::map<std::string, std::vector<std::pair<uint64_t, uint64_t>>> erases, writes, reads;
    std::map<std::string, bool> started;  // the device's attempt began (its partition sized)
    for (const auto &q : ctl::requests()) {
        if (q.name == "MTD_SET_PARTITION")
            started[q.device] = true;
        if (!started[q.device] || q.result < 0)
            continue;
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
    printf("\n%-16s %-10s %10s %10s %10s %10s %10s %10s %8s\n", "partition", "device", "erased", "least", "written",
           "least", "read", "least", "twice");
    for (const Partition &p : kLayout) {
        std::string dev = Device(p);
        Bytes &b = by[dev];
        b.twice = Overlap(erases[dev]) + Overlap(writes[dev]) + Overlap(reads[dev]);
        printf("%-16s %-10s %10llu %10llu %10llu %10llu %10llu %10llu %8llu\n", p.name, dev.c_str(),
               static_cast<unsigned long long>(b.erased), static_cast<unsigned long long>(p.blocks * kBlock),
               static_cast<unsigned long long>(b.written), static_cast<unsigned long long>(p.image),
               static_cast<unsigned long long>(b.read), static_cast<unsigned long long>(p.image),
               static_cast<unsigned long long>(b.twice));
    }
}

void PrintRatio()
{
    if (gUpdateMs.empty() || gBareMs.empty())
        return;
    std::vector<double> u = gUpdateMs, b = gBareMs, r;
    for (size_t i = 0; i < u.size(); ++i)
        r.push_back(u[i] / b[i]);
    std::sort(u.begin(), u.end());
    std::sort(b.begin(), b.end());
    std::sort(r.begin(), r.end());
    printf("\nwhole update against its bare I/O, %zu runs of each in turn:\n"
           "  fastest: update %.1f ms, bare I/O %.1f ms, ratio %.3f (target 1.15)\n"
           "  median of the pairs' ratios: %.3f\n",
           u.size(), u.front(), b.front(), u.front() / b.front(), r[r.size() / 2]);
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
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintRatio();
    PrintBytes();
    benchmark::Shutdown();
    return 0;
}
