// Control of the simulator's fault injection and reading of its request log.
#include <unistd.h>

#include <sstream>

#include "korv/simctl.h"
#include "sim_state.h"

namespace korvsim::ctl {

namespace {

Fault new_fault(const char *kind, const std::string &device, bool once)
{
    Fault f;
    f.kind = kind;
    f.device = device;
    f.once = once;
    return f;
}

void fault_add(const Fault &f)
{
    StateLock lock;
    auto faults = faults_load();
    faults.push_back(f);
    faults_save(faults);
}

}  // namespace

void fail_request(const std::string &device, const std::string &request, int err, bool once, uint64_t skip)
{
    Fault f = new_fault("fail", device, once);
    f.request = request;
    f.err = err;
    f.skip = skip;
    fault_add(f);
}

void corrupt_read(const std::string &device, uint64_t offset, uint8_t mask, bool once)
{
    Fault f = new_fault("corrupt", device, once);
    f.offset = offset;
    f.mask = mask;
    fault_add(f);
}

void short_write(const std::string &device, uint64_t bytes, int err, bool once)
{
    Fault f = new_fault("shortwrite", device, once);
    f.offset = bytes;
    f.err = err;
    fault_add(f);
}

void clear_faults()
{
    StateLock lock;
    unlink(kFaultsConf);
}

std::vector<Request> requests()
{
    StateLock lock;
    std::vector<Request> out;
    std::string text;
    if (!read_whole(kRequestsLog, &text))
        return out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        // device name args -> result [errno]; only the arguments may hold blanks (entry names).
        size_t arrow = line.rfind(" -> ");
        size_t sp1 = line.find(' ');
        size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
        if (arrow == std::string::npos || sp2 == std::string::npos || sp2 > arrow)
            continue;
        Request r;
        r.device = line.substr(0, sp1);
        r.name = line.substr(sp1 + 1, sp2 - sp1 - 1);
        r.args = line.substr(sp2 + 1, arrow - sp2 - 1);
        if (r.args == "-")
            r.args.clear();
        std::istringstream tail(line.substr(arrow + 4));
        std::string result, err;
        tail >> result;
        parse_int(result, &r.result);
        if (tail >> err)
            r.err = errno_parse(err);
        r.line = line;
        out.push_back(r);
    }
    return out;
}

std::vector<Request> requests(const std::string &device, const std::string &name)
{
    std::vector<Request> out;
    for (auto &r : requests())
        if ((device.empty() || r.device == device) && (name.empty() || r.name == name))
            out.push_back(r);
    return out;
}

void clear_requests()
{
    StateLock lock;
    unlink(kRequestsLog);
}

}  // namespace korvsim::ctl
