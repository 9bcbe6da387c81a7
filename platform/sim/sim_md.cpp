// md arrays "/dev/mdN": their requests answered from kernel.conf.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "korv/platform.h"
#include "sim_devices.h"

namespace korvsim {

int md_open(const char *path, int flags, bool *claimed)
{
    int index;
    *claimed = path && device_index(path, "/dev/md", &index);
    if (!*claimed)
        return -1;
    StateLock lock;
    return open_node(path, DevKind::Md, index, flags, "");
}

// An md node carries no data through the simulator.
ssize_t md_transfer(SimFd &sfd, const char *request, size_t count)
{
    StateLock lock;
    std::string args = "offset=" + hex32(sfd.pos) + ",count=" + std::to_string(count);
    log_request(sfd.path, request, args, -1, EINVAL);
    return fail(EINVAL);
}

int md_ioctl(SimFd &sfd, unsigned long request, void *arg)
{
    StateLock lock;
    Conf kernel = kernel_load();
    std::string name = request_name(request);
    std::string prefix = "md" + std::to_string(sfd.index) + ".";
    auto array = kernel.find(prefix + "array");
    int err = 0;
    if (!arg) {
        err = EFAULT;
    } else if ((err = fault_fail(sfd.path, name)) != 0) {
    } else if (request == KORV_MD_GET_ARRAY_INFO) {
        if (array == kernel.end()) {
            err = ENODEV;
        } else {
            int32_t words[18] = {};
            std::string text = array->second;
            size_t i = 0, at = 0;
            while (i < 18 && at <= text.size()) {
                size_t comma = text.find(',', at);
                long long v = 0;
                parse_int(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at), &v);
                words[i++] = static_cast<int32_t>(v);
                if (comma == std::string::npos)
                    break;
                at = comma + 1;
            }
            memcpy(arg, words, sizeof words);
        }
    } else if (request == KORV_BLKGETSIZE64) {
        uint64_t size = 0;
        auto it = kernel.find(prefix + "size");
        if (it != kernel.end())
            parse_u64(it->second, &size);
        memcpy(arg, &size, sizeof size);
    } else if (request == KORV_MD_REBUILD_STATUS) {
        if (array == kernel.end()) {
            err = ENODEV;
        } else {
            unsigned a = 0, b = 0, c = 0;
            auto it = kernel.find(prefix + "rebuild");
            if (it != kernel.end())
                sscanf(it->second.c_str(), "%u,%u,%u", &a, &b, &c);
            uint32_t words[3] = {a, b, c};
            memcpy(arg, words, sizeof words);
        }
    } else {
        err = ENOTTY;
    }
    log_request(sfd.path, name, "", err ? -1 : 0, err);
    return err ? fail(err) : 0;
}

}  // namespace korvsim
