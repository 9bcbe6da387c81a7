// The FTP chroot list and "/etc/hosts.deny" over any file (the input is both). The chroot add
// and delete copy every kept line byte for byte; the deny delete drops only lines of the address
// and keeps every other line byte for byte.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "fuzz_files.h"
#include "korv/ftp.h"
#include "korv/list.h"

namespace {

const char kName[] = "fzuser";
const char kAddress[] = "10.0.0.1";

// The lines of the chroot list that carry a name: not a comment, not empty.
std::vector<std::string> names(const std::string &text)
{
    std::vector<std::string> out;
    for (const std::string &line : korvfuzz::lines_of(text)) {
        if (!line.empty() && line[0] != '#' && line[0] != '\0')
            out.push_back(line);
    }
    return out;
}

// Whether the name of a line (its text before a NUL) is plainly another name than kName: printable
// ASCII that differs from it whatever the case.
bool other_name(const std::string &line)
{
    const std::string name = line.substr(0, line.find('\0'));
    for (unsigned char c : name) {
        if (c < 0x21 || c > 0x7E)
            return false;
    }
    return strcasecmp(name.c_str(), kName) != 0;
}

// Whether after is before with some lines left out.
bool subsequence(const std::vector<std::string> &after, const std::vector<std::string> &before)
{
    size_t at = 0;
    for (const std::string &line : before) {
        if (at < after.size() && after[at] == line)
            ++at;
    }
    return at == after.size();
}

PKORLSZLIST list_of(const char *item)
{
    PKORLSZLIST list = PslKORLSzListAlloc(0);
    if (list && KORLSzListPush(&list, item) < 0) {
        KORLSzListFree(list);
        return nullptr;
    }
    return list;
}

void chroot_list(const std::string &text)
{
    PKORLSZLIST all = PslKORLSzListAlloc(0);
    if (all) {
        KORVFTPEnumChrootUser(&all);
        KORLSzListFree(all);
    }
    const std::vector<std::string> before = names(text);
    PKORLSZLIST add = list_of(kName);
    if (add && KORVFTPAddChrootUser(add) == 0) {
        std::vector<std::string> after = korvfuzz::lines_of(korvfuzz::read_file(KORV_FTP_CHROOT_CONF));
        if (after.size() == before.size() + 1) {
            korvfuzz::require(after.back() == kName, "an add appends the name");
            after.pop_back();
        }
        korvfuzz::require(after == before, "an add copies every kept line byte for byte");
    }
    KORLSzListFree(add);

    const std::vector<std::string> listed = names(korvfuzz::read_file(KORV_FTP_CHROOT_CONF));
    PKORLSZLIST del = list_of(kName);
    if (del && KORVFTPDeleteChrootUser(del) == 0) {
        const std::vector<std::string> after = korvfuzz::lines_of(korvfuzz::read_file(KORV_FTP_CHROOT_CONF));
        korvfuzz::require(subsequence(after, listed), "a delete copies kept lines byte for byte");
        for (const std::string &line : listed) {
            bool present = false;
            for (const std::string &kept : after)
                present = present || kept == line;
            if (line == kName)
                korvfuzz::require(!present, "a delete removes the name");
            else if (other_name(line))
                korvfuzz::require(present, "a delete keeps other names");
        }
    }
    KORLSzListFree(del);

    // The first name of the file, whatever its bytes, finds its own line.
    const std::vector<std::string> left = names(korvfuzz::read_file(KORV_FTP_CHROOT_CONF));
    if (left.empty())
        return;
    const std::string first = left[0].substr(0, left[0].find('\0'));
    PKORLSZLIST own = list_of(first.c_str());
    if (own && KORVFTPDeleteChrootUser(own) == 0) {
        for (const std::string &line : names(korvfuzz::read_file(KORV_FTP_CHROOT_CONF)))
            korvfuzz::require(line.substr(0, line.find('\0')) != first, "a delete removes a name by its own bytes");
    }
    KORLSzListFree(own);
}

void deny(const std::string &text)
{
    PKORLSZLIST all = PslKORLSzListAlloc(0);
    if (all) {
        ConnSecurityDenyIPEnum(&all);
        KORLSzListFree(all);
    }
    PKORLSZLIST del = list_of(kAddress);
    if (!del)
        return;
    const int dropped = ConnSecurityDenyIPDelete(del);
    KORLSzListFree(del);
    if (dropped < 0)
        return;
    const std::string bytes = korvfuzz::read_file(KORV_HOSTS_DENY);
    if (dropped == 0) {
        korvfuzz::require(bytes == text, "a delete that drops nothing leaves the file");
        return;
    }
    const std::vector<std::string> before = korvfuzz::lines_of(text), after = korvfuzz::lines_of(bytes);
    korvfuzz::require(after.size() + size_t(dropped) == before.size() && subsequence(after, before),
                      "a delete drops its lines only and keeps the others byte for byte");
    size_t at = 0;
    for (const std::string &line : before) {
        if (at < after.size() && after[at] == line)
            ++at;
        else
            korvfuzz::require(line.find(kAddress) != std::string::npos, "a dropped line names the address");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (!korvfuzz::write_file(KORV_FTP_CHROOT_CONF, text) || !korvfuzz::write_file(KORV_HOSTS_DENY, text))
        return 0;
    chroot_list(text);
    deny(text);
    return 0;
}
