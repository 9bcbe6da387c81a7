// korv-flashcp FILE DEVICE: writes a file onto a flash partition as the updater's rollback puts
// a partition back: unlocked, erased, written, then read back and compared, through the
// library's flash calls. A plain copy (dd) onto NOR flash only clears bits, so the partition
// would end neither old nor new.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "korv/mtd.h"
#include "korv/platform.h"
#include "korv_flash_records.h"
#include "korv_io.h"
#include "korv_plat_fd.h"
#include "korv_unique.h"
#include "sandbox_guard.h"

namespace {

constexpr size_t kChunk = 16384;
const char *gProgram = "korv-flashcp";

// The reason on standard error, and the exit status of a failure.
int Fail(const std::string &why)
{
    fprintf(stderr, "%s: %s\n", gProgram, why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    gProgram = argv[0];
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE /dev/mtdN\n", argv[0]);
        return 2;
    }
    if (!korv_inside_sandbox()) {
        fprintf(stderr, "%s: refusing to run outside the device sandbox\n", argv[0]);
        return 2;
    }
    const char *file = argv[1], *device = argv[2];

    uint8_t raw[korv::flash::kMtdInfoSize];
    if (KORVMTDGetDeviceInfo(device, raw, sizeof raw) != 0)
        return Fail(std::string(device) + " is no flash partition (its MTD information cannot be read)");
    const uint32_t size = korv::flash::UnpackMtdInfo(raw).size;

    korv::UniqueFd in(open(file, O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!in || fstat(in.get(), &st) != 0)
        return Fail(std::string(file) + ": " + strerror(errno));
    if (!S_ISREG(st.st_mode))
        return Fail(std::string(file) + " is not a plain file");
    std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
    if (!korv::ReadFull(in.get(), data.data(), data.size(), {file, 0}).ok())
        return Fail(std::string(file) + ": cannot read it: " + strerror(errno));
    if (data.size() > size) {
        fprintf(stderr, "%s: %s (%zu bytes) is larger than %s (%u bytes); nothing is written\n", gProgram, file,
                data.size(), device, size);
        return 1;
    }

    if (KORVMTDUnlockPartition(device) != 0)
        return Fail(std::string("cannot unlock ") + device);
    if (KORVMTDErasePartition(device) != 0)
        return Fail(std::string("cannot erase ") + device);
    {
        korv::PlatFd out(korv_plat_open(device, O_WRONLY));
        if (!out)
            return Fail(std::string("cannot open ") + device + " for writing: " + strerror(errno));
        for (size_t at = 0; at < data.size(); at += kChunk) {
            size_t n = data.size() - at < kChunk ? data.size() - at : kChunk;
            korv::IoResult r = korv::PlatWriteAll(out.get(), data.data() + at, n, {device, at});
            if (!r.ok())
                return Fail(r.Describe());
        }
    }
    korv::PlatFd back(korv_plat_open(device, O_RDONLY));
    if (!back)
        return Fail(std::string("cannot open ") + device + " for reading: " + strerror(errno));
    std::vector<uint8_t> chunk(kChunk);
    for (size_t at = 0; at < data.size(); at += kChunk) {
        size_t n = data.size() - at < kChunk ? data.size() - at : kChunk;
        korv::IoResult r = korv::PlatReadFull(back.get(), chunk.data(), n, {device, at});
        if (!r.ok())
            return Fail(r.Describe());
        for (size_t i = 0; i < n; ++i)
            if (chunk[i] != data[at + i]) {
                fprintf(stderr, "%s: %s differs from %s at byte 0x%zx: the write did not hold\n", gProgram, device,
                        file, at + i);
                return 1;
            }
    }
    printf("%s: %s written to %s (%zu bytes) and verified\n", gProgram, file, device, data.size());
    return 0;
}
