// The configuration readers over any file: the key, line, section and key-set readers and the
// line tests they share. The first input byte picks the flags; the rest is the file.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz_files.h"
#include "korv/file.h"
#include "korv/hash.h"
#include "korv/list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int flags = data[0] & (OP_FIND_LAST | OP_MATCH_PREFIX | OP_MATCH_SUFFIX | OP_MATCH_NOCASE);
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const char *path = "/tmp/fuzz.conf";
    if (!korvfuzz::write_file(path, text))
        return 0;

    char buf[64];
    KORLFileGetKeyValue(path, "a", buf, sizeof buf, flags & OP_FIND_LAST);
    KORLFileGetKeyValue(path, "a", nullptr, 0, OP_FIND_LAST);
    KORLFileCheckKeyValue(path, "key", "yes", 2);
    KORLFileGetLine(path, "a=", buf, sizeof buf, flags);

    PKORLSZHASH hash = PshKORLSzHashAlloc(0);
    if (hash) {
        KORLFileGetSection(path, "global", &hash);
        KORLFileGetKeys(path, nullptr, &hash, "=:");
        PKORLSZLIST wanted = PslKORLSzListAlloc(0);
        if (wanted && KORLSzListPush(&wanted, "b") >= 0 && KORLSzListPush(&wanted, "a") >= 0)
            KORLFileGetKeys(path, wanted, &hash, "=");
        KORLSzListFree(wanted);
        KORLSzHashFree(hash);
    }

    // The line tests on each line of the text as the readers hand it over.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
        KORLFileLineMatch(line.c_str(), "a", flags);
        KORLFileIsSection(line.c_str(), static_cast<int>(strlen(line.c_str())));
        KORLFileMatchSection(line.c_str(), static_cast<int>(strlen(line.c_str())), "global");
        KORLFileLineKeyMatch(line.data(), "a");
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return 0;
}
