// The launcher's stages: the host-side set-up of a tree (no links followed), the namespaces
// and the root switch, and pid 1 of the sandbox.
#pragma once

#include <signal.h>

#include <string>
#include <utility>
#include <vector>

namespace sandbox {

// Where the --bind-ro folders appear inside: "/.korvsim/host" followed by their host path.
constexpr const char kHostDir[] = KORV_SANDBOX_HOST_DIR;
// The host's everyday tools, each bound read-only at kToolDir/NAME; /bin/NAME links there.
constexpr const char kToolDir[] = "/.korvsim/tools";

struct Options {
    std::string tree;                  // host path, resolved
    bool fresh = false;
    bool keep = false;
    std::vector<std::string> bindRo;   // host paths, resolved, parents first
    std::vector<std::pair<std::string, std::string>> env;  // what the command gets
    std::vector<std::string> command;  // argv[0] as seen inside
};

[[noreturn]] void die(const std::string &what);           // with strerror(errno)
[[noreturn]] void refuse(const std::string &message);     // a plain message
[[noreturn]] void refuse_link(const std::string &shown);  // a link where the tree needs a folder

// The tools found on the host: name and resolved host path.
std::vector<std::pair<std::string, std::string>> host_tools();

// The inside path of a host path under one of the bound folders, or "" when it is under none.
std::string inside_path(const Options &opt, const std::string &hostPath);

// Starts the sandbox for a prepared tree in a child, which gets the signal mask given, and
// returns the child's pid; its exit status is the command's.
pid_t start_sandbox(const Options &opt, const sigset_t &childMask);

// pid 1 of the sandbox, after the root switch.
[[noreturn]] void run_init(const Options &opt, const std::vector<std::string> &tools);

}  // namespace sandbox
