// What the network functions share: their datagram socket, interface requests, the names that
// may reach a path, and the ifcfg files with their undo.
#pragma once

#include <net/if.h>
#include <sys/types.h>

#include <source_location>
#include <string>
#include <vector>

#include "korv/net.h"
#include "korv/platform.h"
#include "korv_unique.h"

namespace korv::net {

struct SocketTraits {
    using Handle = int;
    static constexpr int empty() { return -1; }
    static bool valid(int fd) { return fd >= 0; }
    static int close(int fd) { return korv_plat_close(fd); }
};
// The AF_INET datagram socket of the interface requests, closed on scope exit.
using Socket = UniqueHandle<SocketTraits>;
Socket OpenSocket();

// An interface name fits a request when it has at most 15 characters: the kernel reads 16 bytes
// and the last must be the terminator. Longer names are never cut, which would name another one.
bool IfNameFits(const char *name);
// An ifreq naming name (which must fit), all else zero.
struct ifreq IfreqFor(const char *name);

// A name that goes into a path or a command: 1 to 15 characters of A-Z a-z 0-9 . _ -, and not
// "." or "..".
bool NameOk(const char *name);
// The same for a 16-byte field, which must hold its terminator.
bool NameFieldOk(const char (&field)[16]);

// The first line of the bonding driver's file of a bond ("/sys/class/net/<bond>/bonding/<file>"),
// newline included: 0, or -1 (0x0900 no such file, 0x0A00 no line, recorded at loc).
int BondingLine(const char *bond, const char *file, std::string &line,
                std::source_location loc = std::source_location::current());

inline constexpr const char *kIfcfgPrefix = "/etc/sysconfig/network-scripts/ifcfg-";
std::string IfcfgPath(const char *name);
std::string SavedPath(const char *name);  // the ifcfg path with ".saved"

// What one bond change has altered in the ifcfg files, so that a failure puts back exactly that.
// Save copies a file to its ".saved" copy (once per run; a file that did not exist is noted as
// such), Keep holds a file's bytes in memory instead. Unless the change is Done, the undo going
// out of scope moves back this run's copies, writes back the kept files and removes the files
// that did not exist before.
class IfcfgUndo {
public:
    IfcfgUndo() = default;
    IfcfgUndo(const IfcfgUndo &) = delete;
    IfcfgUndo &operator=(const IfcfgUndo &) = delete;
    ~IfcfgUndo() { Restore(); }

    // 0, or -1 when an existing file cannot be copied (its code recorded at loc).
    int Save(const char *name, std::source_location loc = std::source_location::current());
    int Keep(const char *name, std::source_location loc = std::source_location::current());
    // The change stands: nothing is put back.
    void Done() { entries_.clear(); }

private:
    void Restore();
    struct Entry {
        std::string name;
        bool existed = false;
        bool inMemory = false;
        std::string bytes;  // in memory: the file's bytes, mode and owner
        mode_t mode = 0644;
        uid_t uid = static_cast<uid_t>(-1);
        gid_t gid = static_cast<gid_t>(-1);
    };
    bool Has(const char *name) const;
    std::vector<Entry> entries_;
};

}  // namespace korv::net
