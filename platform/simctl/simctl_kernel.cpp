// Control of the simulated kernel: system calls 401 and 405, the clock and the md arrays.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "korv/simctl.h"
#include "sim_state.h"

namespace korvsim::ctl {

namespace {

void kernel_set(const std::string &key, const std::string &value)
{
    StateLock lock;
    Conf kernel = kernel_load();
    kernel[key] = value;
    kernel_save(kernel);
}

void kernel_erase(const std::string &key)
{
    StateLock lock;
    Conf kernel = kernel_load();
    kernel.erase(key);
    kernel_save(kernel);
}

// Touches a device node of the tree so that opening it works.
void ensure_node(const std::string &path)
{
    mkdir("/dev", 0755);
    if (access(path.c_str(), F_OK) != 0) {
        FILE *f = fopen(path.c_str(), "w");
        if (f)
            fclose(f);
    }
}

}  // namespace

void set_flag_word(std::optional<uint32_t> word)
{
    StateLock lock;
    Conf kernel = kernel_load();
    kernel["syscall401"] = word ? "present" : "absent";
    if (word)
        kernel["flag_word"] = hex32(*word);
    else
        kernel.erase("flag_word");
    kernel_save(kernel);
}

void set_syscall405(int err)
{
    kernel_set("syscall405", err ? errno_name(err) : "0");
}

void set_uptime(long seconds)
{
    kernel_set("uptime", std::to_string(seconds));
}

std::string driver_buffer_state()
{
    StateLock lock;
    Conf kernel = kernel_load();
    auto it = kernel.find("driver_buffer");
    return it == kernel.end() ? "" : it->second;
}

void set_md_array(int md, const std::vector<int32_t> &words)
{
    std::string text;
    for (size_t i = 0; i < words.size() && i < 18; ++i)
        text += (i ? "," : "") + std::to_string(words[i]);
    kernel_set("md" + std::to_string(md) + ".array", text);
    ensure_node("/dev/md" + std::to_string(md));
}

void remove_md_array(int md)
{
    kernel_erase("md" + std::to_string(md) + ".array");
}

void set_md_size(int md, uint64_t bytes)
{
    kernel_set("md" + std::to_string(md) + ".size", std::to_string(bytes));
    ensure_node("/dev/md" + std::to_string(md));
}

void set_md_rebuild(int md, uint32_t due, uint32_t done, uint32_t total)
{
    kernel_set("md" + std::to_string(md) + ".rebuild",
               std::to_string(due) + "," + std::to_string(done) + "," + std::to_string(total));
    ensure_node("/dev/md" + std::to_string(md));
}

}  // namespace korvsim::ctl
