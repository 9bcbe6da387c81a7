// The request log and the injected faults.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <sstream>

#include "sim_state.h"

namespace korvsim {

void log_request(const std::string &device, const std::string &request, const std::string &args,
                 long long result, int err)
{
    ensure_state_dir();
    std::string line = device + " " + request + " " + (args.empty() ? "-" : args) + " -> " +
                       std::to_string(result);
    if (result < 0)
        line += " " + errno_name(err);
    line += "\n";
    Fd fd(open(kRequestsLog, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (fd.ok()) {
        ssize_t n = write(fd.get(), line.data(), line.size());
        (void)n;
    }
}

std::string fault_format(const Fault &f)
{
    std::string when = f.once ? "once" : "always";
    if (f.kind == "fail")
        return "fail " + f.device + " " + f.request + " " + errno_name(f.err) + " " + when +
               (f.skip ? " " + std::to_string(f.skip) : "");
    if (f.kind == "corrupt") {
        char mask[8];
        snprintf(mask, sizeof mask, "0x%02x", f.mask);
        return "corrupt " + f.device + " " + hex32(f.offset) + " " + mask + " " + when;
    }
    return "shortwrite " + f.device + " " + std::to_string(f.offset) + " " + errno_name(f.err) + " " +
           when + " " + std::to_string(f.done);
}

std::optional<Fault> fault_parse(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.size() < 5)
        return std::nullopt;
    Fault f;
    f.kind = words[0];
    f.device = words[1];
    f.once = words[4] == "once";
    if (words[4] != "once" && words[4] != "always")
        return std::nullopt;
    uint64_t v;
    if (f.kind == "fail") {
        f.request = words[2];
        f.err = errno_parse(words[3]);
        if (f.err < 0)
            return std::nullopt;
        if (words.size() > 5 && !parse_u64(words[5], &f.skip))
            return std::nullopt;
    } else if (f.kind == "corrupt") {
        if (!parse_u64(words[2], &f.offset) || !parse_u64(words[3], &v) || v > 0xFF)
            return std::nullopt;
        f.mask = static_cast<uint8_t>(v);
    } else if (f.kind == "shortwrite") {
        if (!parse_u64(words[2], &f.offset))
            return std::nullopt;
        f.err = errno_parse(words[3]);
        if (f.err < 0)
            return std::nullopt;
        if (words.size() > 5 && parse_u64(words[5], &v))
            f.done = v;
    } else {
        return std::nullopt;
    }
    return f;
}

std::vector<Fault> faults_load()
{
    std::vector<Fault> faults;
    each_line(kFaultsConf, [&](const std::string &line) {
        if (auto f = fault_parse(line))
            faults.push_back(*f);
    });
    return faults;
}

bool faults_save(const std::vector<Fault> &faults)
{
    std::string text;
    for (const auto &f : faults)
        text += fault_format(f) + "\n";
    return write_file_atomic(kFaultsConf, text);
}

int fault_fail(const std::string &device, const std::string &request)
{
    auto faults = faults_load();
    for (size_t i = 0; i < faults.size(); ++i) {
        const Fault &f = faults[i];
        if (f.kind != "fail" || f.request != request || (f.device != "*" && f.device != device))
            continue;
        if (f.skip > 0) {
            // This request passes; the fault waits for a later one.
            --faults[i].skip;
            faults_save(faults);
            continue;
        }
        int err = f.err;
        if (f.once) {
            faults.erase(faults.begin() + static_cast<long>(i));
            faults_save(faults);
        }
        return err;
    }
    return 0;
}

}  // namespace korvsim
