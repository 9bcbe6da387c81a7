// A whole update of a 16 MiB RedBoot flash, all eight partitions written, against the bare I/O
// that it must do: the same backup copies through the shell, and per partition one erase, the
// image written in 16 KiB chunks and read back in 8 KiB chunks, through the same kernel
// interface. Both run in the same device tree, each on a flash laid out anew; the ratio of the
// two is printed at the end (target: within 1.15x), with the bytes each partition had erased,
// written and read in its write attempt against the least it needs, from the request log.
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

std::vector<uint8_t> ReadImage(const Partition &p)
{
    std::vector<uint8_t> bytes(p.image);
    FILE *f = fopen((std::string(kWork) + "/" + p.file).c_str(), "rb");
    if (!f || fread(bytes.data(), 1, bytes.size(), f) != bytes.size())
        Fail(std::string("cannot read the image ") + p.file);
    fclose(f);
    return bytes;
}

void BM_Update(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        LayOut();
        state.ResumeTiming();
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
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the update failed");
    }
}

// What the update must do at the least, by hand through the same kernel interface.
void BM_BareIO(benchmark::State &state)
{
    LayOut();  // the package, when this runs first
    std::vector<std::vector<uint8_t>> images;
    for (const Partition &p : kLayout)
        images.push_back(ReadImage(p));
    std::vector<uint8_t> back(8192);
    for (auto _ : state) {
        state.PauseTiming();
        LayOut();
        state.ResumeTiming();
        std::string cmd = std::string("/bin/rm -rf ") + kWork + "/b@ckup; /bin/mkdir -p " + kWork + "/b@ckup";
        for (const Partition &p : kLayout)
            cmd += "; /bin/dd if=\"" + Device(p) + "\" of=\"" + kWork + "/b@ckup/mtd_" + p.name + "\" bs=16384 2>/dev/null";
        if (system(cmd.c_str()) != 0)
            state.SkipWithError("backup failed");
        for (size_t i = 0; i < std::size(kLayout); ++i) {
            const Partition &p = kLayout[i];
            std::string dev = Device(p);
            if (KORVMTDErasePartition(dev.c_str()) != 0)
                state.SkipWithError("erase failed");
            int in = open((std::string(kWork) + "/" + p.file).c_str(), O_RDONLY);
            int out = korv_plat_open(dev.c_str(), O_WRONLY);
            std::vector<uint8_t> chunk(16384);
            ssize_t n;
            while ((n = read(in, chunk.data(), chunk.size())) > 0)
                if (korv_plat_write(out, chunk.data(), static_cast<size_t>(n)) != n)
                    state.SkipWithError("write failed");
            korv_plat_close(out);
            close(in);
            int dv = korv_plat_open(dev.c_str(), O_RDONLY);
            for (size_t at = 0; at < images[i].size(); at += back.size()) {
                size_t want = std::min(back.size(), images[i].size() - at);
                if (korv_plat_read(dv, back.data(), want) != static_cast<ssize_t>(want) ||
                    memcmp(back.data(), images[i].data() + at, want) != 0)
                    state.SkipWithError("read-back differs");
            }
            korv_plat_close(dv);
        }
    }
}

BENCHMARK(BM_Update)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(5);
BENCHMARK(BM_BareIO)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Repetitions(5);

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

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred)
                continue;
            // The fastest repetition: the machine's other work only ever adds time.
            double t = r.GetAdjustedRealTime();
            auto [at, fresh] = times_.emplace(r.benchmark_name().substr(0, r.benchmark_name().find('/')), t);
            if (!fresh)
                at->second = std::min(at->second, t);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatio() const
    {
        auto u = times_.find("BM_Update"), b = times_.find("BM_BareIO");
        if (u == times_.end() || b == times_.end())
            return;
        printf("\nwhole update %.1f ms, bare I/O %.1f ms: ratio %.3f (target 1.15)\n", u->second, b->second,
               u->second / b->second);
    }

private:
    std::map<std::string, double> times_;
};

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
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio();
    PrintBytes();
    benchmark::Shutdown();
    return 0;
}
