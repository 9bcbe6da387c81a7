// The launcher's stages: the host-side set-up of a tree (through one descriptor, no links
// followed), the namespaces and the root switch, pid 1 of the sandbox, and the relay of the
// caller's terminal and standard input.
#pragma once

#include <signal.h>
#include <stdint.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "korv_unique.h"

namespace sandbox {

using korv::UniqueFd;

// Where the --bind-ro folders appear inside: "/.korvsim/host" followed by their host path.
constexpr const char kHostDir[] = KORV_SANDBOX_HOST_DIR;
// The host's everyday tools, each bound read-only at kToolDir/NAME; /bin/NAME links there.
constexpr const char kToolDir[] = "/.korvsim/tools";
// Tools the host keeps outside its folder of programs (its sbin checkers), each bound here.
constexpr const char kExtraToolDir[] = "/.korvsim/tools-extra";
// Started by root, ids 0 to kIdCount - 1 inside are kRootIdBase onwards on the host: root of a
// tree is never the host's root. The same on every run, so kept trees keep their owners.
constexpr uint32_t kRootIdBase = 0x70000000;
constexpr uint32_t kIdCount = 65536;
// What a session may use unless the caller says otherwise (--pids, --tree-size).
constexpr long kDefaultPids = 1024;
constexpr const char kDefaultTreeSize[] = "1g";
// How long a session waits for another one on the same kept tree (KORV_TREE_WAIT, seconds).
constexpr int kDefaultTreeWait = 30;

struct Options {
    std::string tree;                  // host path as shown in messages (absolute)
    int treeFd = -1;                   // the tree's folder, resolved once and locked
    bool fresh = false;
    bool hostRoot = geteuid() == 0;    // started by the host's root
    bool keep = false;
    long pids = kDefaultPids;
    std::string treeSize = kDefaultTreeSize;
    std::vector<std::string> bindRo;   // host paths, resolved, parents first
    std::vector<std::pair<std::string, std::string>> env;  // what the command gets
    std::vector<std::string> command;  // argv[0] as seen inside
    int stdio[3] = {0, 1, 2};          // what the command gets as its standard descriptors
    bool terminal = false;             // one of them is the relay's terminal
    std::vector<int> launcherFds;      // the relay's own ends, closed in the session's processes
    unsigned long envStart = 0;        // the caller's environment in this process's memory
    unsigned long envEnd = 0;
};

[[noreturn]] void die(const std::string &what);           // with strerror(errno)
[[noreturn]] void refuse(const std::string &message);     // a plain message
[[noreturn]] void refuse_link(const std::string &shown);  // a link where the tree needs a folder

// The tools found on the host: name and resolved host path.
std::vector<std::pair<std::string, std::string>> host_tools();

// The inside path of a host path under one of the bound folders, or "" when it is under none.
std::string inside_path(const Options &opt, const std::string &hostPath);

// The host ids that inside ids map to for this caller: the first inside id, its host id and the
// count, one line each (the kernel's map format). Empty when only the caller is mapped.
struct IdRange {
    uint32_t inside = 0;
    uint32_t host = 0;
    uint32_t count = 0;
};
struct IdMaps {
    std::vector<IdRange> uids;
    std::vector<IdRange> gids;
    bool subordinate = false;  // granted through newuidmap and newgidmap
};
IdMaps caller_id_maps();
// The host id of an inside id under one map, or -1 when it is not mapped.
long long host_id(const std::vector<IdRange> &map, uint32_t inside);

// Starts the sandbox for a prepared tree in a child, which gets the signal mask given, and
// returns the child's pid; its exit status is the command's.
pid_t start_sandbox(const Options &opt, const sigset_t &childMask);

// pid 1 of the sandbox, after the root switch; the pids of its namespace end at lastPid.
[[noreturn]] void run_init(const Options &opt, const std::vector<std::string> &tools, int lastPid);

// Refuses the ioctls that type into a terminal (TIOCSTI, TIOCLINUX) for this process and the
// programs it runs.
void forbid_terminal_typing();

// The caller's terminal and standard input as the command gets them: a pseudo-terminal when one
// of the standard descriptors is a terminal, a pipe for a standard input that is neither a pipe,
// a socket nor a terminal. Sets opt.stdio; the relay runs in the launcher while the session lives.
class Relay {
public:
    void prepare(Options &opt);
    // After the sandbox started: the launcher's copies of the command's ends go.
    void started(Options &opt);
    // Moves data until the session's child ends or a signal in `mask` arrives; returns that
    // signal's info.
    siginfo_t run(const sigset_t &mask);
    // Passes an interrupt the launcher got from the caller's terminal on to the command, as the
    // pseudo-terminal's own interrupt character.
    void interrupt();
    // Puts the caller's terminal back as it was.
    void restore();
    ~Relay() { restore(); }

private:
    struct Pump {
        int from = -1;
        int to = -1;
        std::string pending;
        bool open = false;
    };
    bool pump_in(Pump &p);
    void pump_out(Pump &p);
    UniqueFd master_;
    UniqueFd slave_;
    UniqueFd pipeRead_;
    UniqueFd pipeWrite_;
    Pump input_;   // the caller's stdin to the pty or the pipe
    Pump output_;  // the pty to the caller's terminal
    int terminalFd_ = -1;  // the caller's terminal whose settings were changed
    char interrupt_ = 3;
    bool rawSet_ = false;
    struct termios saved_ {};
};

}  // namespace sandbox
