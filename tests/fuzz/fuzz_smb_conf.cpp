// The smb.conf build: any file read into a fresh share store, which is then written back as
// smb.conf and built again; and the section-name parser on each line.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "fuzz_files.h"
#include "korv/bdb.h"
#include "korv/share.h"

namespace {

const char *const kStore = "/tmp/.db.korvshare.0947";

void device()
{
    static bool laid = [] {
        korvfuzz::write_file("/etc/passwd", "root:x:0:0::/root:/bin/sh\nalice:x:1030:100:::\nbob:x:1031:100:::\n");
        korvfuzz::write_file("/etc/shadow", "root:*:1:0:99999:7:::\nalice:*:1:0:99999:7:::\nbob:*:1:0:99999:7:::\n");
        korvfuzz::write_file("/etc/korvuser.conf", "");
        korvfuzz::write_file("/usr/korv/etc/private/smbpasswd", "");
        korvfuzz::write_file("/etc/group", "users:x:100:alice\nstaff:x:65600:bob\n");
        korvfuzz::write_file("/etc/group_desc", "");
        return true;
    }();
    (void)laid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    device();
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (!korvfuzz::write_file("/usr/korv/etc/smb.conf", text))
        return 0;
    for (int round = 0; round < 2; round++) {
        unlink(kStore);
        KORVSHAREDB *db = nullptr;
        if (KORVShareDBOpenFile(&db, kStore) < 0)
            break;
        KORVShareDBDump(db);
        KORVShareDBClose(db);
    }

    char name[64];
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        KORVShareParseSectionName(line.c_str(), name, sizeof name);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return 0;
}
