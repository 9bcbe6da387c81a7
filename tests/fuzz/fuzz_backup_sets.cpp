// The backup set files and the rsync secrets over any file. The first byte picks the kind of set
// file; the rest is that file and "/etc/rsyncd.secrets". Each set just read, written back under its
// own name, replaces itself: every set reads back the same. A failed write leaves the file as it
// was. A secret read is terminated within its buffer; a deleted secret takes its line only.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "backup/localbkp_fields.h"
#include "backup/netbkp_fields.h"
#include "fuzz_files.h"
#include "korv/backup.h"

using namespace korv::backup;

namespace {

// A set as its fields: the name, then every text and number in the tables' order.
std::vector<std::string> fields(void *record, int kind)
{
    std::vector<std::string> out;
    if (kind == BACKUP_TYPE_NETBKP) {
        auto *net = static_cast<KORVNETBKPCONF *>(record);
        out.push_back(net->szSection);
        for (const TextField &f : kNetTexts)
            out.push_back(TextAt(net, f.offset));
        for (const IntField &f : kNetInts)
            out.push_back(std::to_string(IntAt(net, f.offset)));
    } else {
        auto *local = static_cast<KORVLOCALBKPCONF *>(record);
        out.push_back(local->szSection);
        for (const TextField &f : kLocalTexts)
            out.push_back(TextAt(local, f.offset));
        out.push_back(std::to_string(local->dest_type));
        out.push_back(std::to_string(local->incrbkp));
    }
    return out;
}

std::vector<std::vector<std::string>> read_sets(int kind, bool *ok)
{
    void **items = nullptr;
    const int n = KORVBackupConfGetAll(&items, kind);
    *ok = n >= 0;
    std::vector<std::vector<std::string>> out;
    for (int i = 0; i < n; ++i)
        out.push_back(fields(items[i], kind));
    KORVBackupConfFreeAll(items, n, kind);
    return out;
}

void sets(int kind)
{
    const char *file = kind == BACKUP_TYPE_NETBKP ? KORV_NETBKP_CONF : KORV_LOCALBKP_CONF;
    bool ok = false;
    std::vector<std::vector<std::string>> before = read_sets(kind, &ok);
    korvfuzz::require(ok, "damaged lines cost their own sets, never the file");
    std::set<std::string> seen;
    for (size_t i = 0; i < before.size(); ++i) {
        const std::string &name = before[i][0];
        // Only the first set of a name is the one its writer finds.
        if (!seen.insert(name).second)
            continue;
        void **items = nullptr;
        const int n = KORVBackupConfGetAll(&items, kind);
        korvfuzz::require(n == int(before.size()), "the sets read again are as many");
        const std::string old = korvfuzz::read_file(file);
        const int rc = kind == BACKUP_TYPE_NETBKP
                           ? KORVNetBkpConfSetOne(name.c_str(), static_cast<KORVNETBKPCONF *>(items[i]))
                           : KORVLocalBkpConfSetOne(name.c_str(), static_cast<KORVLOCALBKPCONF *>(items[i]));
        KORVBackupConfFreeAll(items, n, kind);
        if (rc != 0) {
            korvfuzz::require(korvfuzz::read_file(file) == old, "a failed set-one leaves the file");
            continue;
        }
        const std::vector<std::vector<std::string>> after = read_sets(kind, &ok);
        korvfuzz::require(ok && after.size() == before.size(), "a set written back under its name replaces itself");
        for (size_t j = 0; j < before.size(); ++j) {
            if (before[j][0] != name)
                korvfuzz::require(after[j] == before[j], "the other sets read back the same");
        }
        korvfuzz::require(after[i] == before[i], "a set written back reads back the same");
        // The writer rewrites every section of the name, later ones with the first one's keys.
        before = after;
    }
}

void secrets(const std::string &text)
{
    char buf[40];
    memset(buf, 0x55, sizeof buf);
    if (KORVNetBackupGetServerPasswd("admin", buf, 32) == 0)
        korvfuzz::require(strnlen(buf, 32) < 32 && buf[32] == 0x55, "a secret read stays in its buffer");
    KORVNetBackupGetServerPasswd("rsync", buf, 1);

    // The first line that begins with "rsync:" goes; every other line stays byte for byte.
    std::vector<std::string> expect = korvfuzz::lines_of(text);
    for (size_t i = 0; i < expect.size(); ++i) {
        if (expect[i].compare(0, 6, "rsync:") == 0) {
            expect.erase(expect.begin() + long(i));
            break;
        }
    }
    if (NetBackupDelSecret("rsync") == 0)
        korvfuzz::require(korvfuzz::lines_of(korvfuzz::read_file(KORV_RSYNCD_SECRETS)) == expect,
                          "a deleted secret takes its line only");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int kind = data[0] & 1 ? BACKUP_TYPE_LOCALBKP : BACKUP_TYPE_NETBKP;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (!korvfuzz::write_file(kind == BACKUP_TYPE_NETBKP ? KORV_NETBKP_CONF : KORV_LOCALBKP_CONF, text) ||
        !korvfuzz::write_file(KORV_RSYNCD_SECRETS, text))
        return 0;
    KORVBackupConfSectionCount(KORV_NETBKP_CONF);
    sets(kind);
    secrets(text);
    return 0;
}
