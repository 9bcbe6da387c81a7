// The device's own system calls (401 and 405) and its clock, from kernel.conf.
#include <errno.h>
#include <stdint.h>

#include <string>

#include "sim_devices.h"

namespace korvsim {

int kernel_flag_get(uint32_t *word)
{
    StateLock lock;
    Conf kernel = kernel_load();
    int err = fault_fail("kernel", "SYS401");
    uint64_t flag = 0;
    if (!err && kernel["syscall401"] != "present")
        err = ENOSYS;
    if (!err && !word)
        err = EFAULT;
    if (!err) {
        parse_u64(kernel["flag_word"], &flag);
        *word = static_cast<uint32_t>(flag);
    }
    log_request("kernel", "SYS401", "", err ? -1 : 0, err);
    return err ? fail(err) : 0;
}

int kernel_driver_buffer(int allocate)
{
    StateLock lock;
    Conf kernel = kernel_load();
    int err = fault_fail("kernel", "SYS405");
    if (!err) {
        auto it = kernel.find("syscall405");
        if (it != kernel.end() && it->second != "0") {
            int e = errno_parse(it->second);
            err = e > 0 ? e : EINVAL;
        }
    }
    if (!err) {
        kernel["driver_buffer"] = allocate ? "allocated" : "free";
        kernel_save(kernel);
    }
    log_request("kernel", "SYS405", "arg=" + std::to_string(allocate), err ? -1 : 0, err);
    return err ? fail(err) : 0;
}

int kernel_uptime(long *seconds)
{
    StateLock lock;
    Conf kernel = kernel_load();
    int err = fault_fail("kernel", "UPTIME");
    long long up = 100;  // a device booted shortly before the test
    auto it = kernel.find("uptime");
    if (it != kernel.end())
        parse_int(it->second, &up);
    if (!err && !seconds)
        err = EFAULT;
    if (!err)
        *seconds = static_cast<long>(up);
    log_request("kernel", "UPTIME", "", err ? -1 : up, err);
    return err ? fail(err) : 0;
}

}  // namespace korvsim
