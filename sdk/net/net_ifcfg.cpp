// The ifcfg files of the network scripts, and the undo of a bond change over them.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "korv/error.h"
#include "korv_rewrite.h"
#include "korv_target.h"
#include "net_internal.h"

namespace korv::net {

std::string IfcfgPath(const char *name)
{
    return std::string(kIfcfgPrefix) + name;
}

std::string SavedPath(const char *name)
{
    return IfcfgPath(name) + ".saved";
}

bool IfcfgUndo::Has(const char *name) const
{
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry &e) { return e.name == name; });
}

int IfcfgUndo::Save(const char *name, std::source_location loc)
{
    if (Has(name))
        return 0;  // the copy holds the file as it was before this run touched it
    Entry e;
    e.name = name;
    std::string path = IfcfgPath(name);
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        e.existed = true;
        if (CopyFile(path.c_str(), SavedPath(name).c_str(), loc) < 0)
            return -1;
    } else if (errno != ENOENT) {
        ErrAt(KORL_ERR_STAT, loc);
        return -1;
    }
    entries_.push_back(std::move(e));
    return 0;
}

int IfcfgUndo::Keep(const char *name, std::source_location loc)
{
    if (Has(name))
        return 0;
    Entry e;
    e.name = name;
    e.inMemory = true;
    std::string path = IfcfgPath(name);
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (fd && fstat(fd.get(), &st) == 0) {
        e.existed = true;
        e.mode = st.st_mode & 07777;
        e.uid = st.st_uid;
        e.gid = st.st_gid;
        auto keep = [&](const char *data, size_t n) {
            e.bytes.append(data, n);
            return 0;
        };
        if (ReadChunks(fd.get(), keep, loc) < 0)
            return -1;
    } else if (fd || errno != ENOENT) {
        ErrAt(KORL_ERR_OPEN, loc);
        return -1;
    }
    entries_.push_back(std::move(e));
    return 0;
}

void IfcfgUndo::Restore()
{
    // The code of the failure that led here stays the one callers read.
    int code = KORLErrGet();
    std::string file = KORLErrFileGet() ? KORLErrFileGet() : "";
    int line = KORLErrLineGet();
    bool touched = false;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        std::string path = IfcfgPath(it->name.c_str());
        if (!it->existed) {
            unlink(path.c_str());
        } else if (!it->inMemory) {
            rename(SavedPath(it->name.c_str()).c_str(), path.c_str());
        } else {
            // Back where the name leads, as the writers found it.
            file::Target target;
            bool missing = false;
            UniqueFile now(target.Open(path.c_str(), "r", &missing, true));
            FileRewrite rw(target.path());
            if ((!now && !missing) || rw.BeginNew(it->mode, it->uid, it->gid) < 0 || rw.Put(it->bytes.data(), it->bytes.size()) < 0 || rw.Commit() < 0)
                touched = true;
        }
    }
    entries_.clear();
    if (touched)
        KORLErrSetEx(code, file.c_str(), line);
}

}  // namespace korv::net
