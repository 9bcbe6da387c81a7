// The mail group: "admin" becomes a member of "smmsp", before a last member "nobody".
#include <string.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "korv/error.h"
#include "korv/file.h"
#include "updater.h"
#include "updater_preflash.h"

namespace {

const char kGroupFile[] = "/etc/group";
const char kKey[] = "smmsp:";
constexpr size_t kLineSize = 1024;

std::vector<std::string> SplitMembers(const std::string &list)
{
    std::vector<std::string> members;
    if (list.empty())
        return members;
    size_t from = 0;
    for (;;) {
        size_t comma = list.find(',', from);
        members.push_back(list.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos)
            return members;
        from = comma + 1;
    }
}

}  // namespace

int CheckAndUpdateSmmspGroup(void)
{
    char buf[kLineSize] = {};
    if (KORLFileGetLine(kGroupFile, kKey, buf, sizeof buf, OP_MATCH_PREFIX) <= 0) {
        syslog(LOG_ERR, "%s (%s):%d KORLFileGetLine() failed! file=[%s] key=[%s] errno=[0x%04X]", UPDT_SOURCE,
               __func__, __LINE__, kGroupFile, kKey, KORLErrGet());
        return 0;
    }
    std::string line = buf;
    // The members follow the third colon: name, password, gid.
    size_t at = line.find(':');
    for (int i = 1; i < 3 && at != std::string::npos; ++i)
        at = line.find(':', at + 1);
    if (at == std::string::npos) {
        syslog(LOG_ERR, "%s (%s):%d malformed group line [%s]", UPDT_SOURCE, __func__, __LINE__, buf);
        return 0;
    }
    std::vector<std::string> members = SplitMembers(line.substr(at + 1));
    for (const std::string &m : members)
        if (m == "admin")
            return 0;
    if (!members.empty() && members.back() == "nobody")
        members.insert(members.end() - 1, "admin");
    else
        members.push_back("admin");
    std::string out = line.substr(0, at + 1);
    for (size_t i = 0; i < members.size(); ++i)
        out += (i ? "," : "") + members[i];
    if (out.size() >= kLineSize) {
        syslog(LOG_ERR, "%s (%s):%d the line of [%s] is too long to take [admin]", UPDT_SOURCE, __func__, __LINE__,
               kKey);
        return 0;
    }
    if (KORLFileSetLine(kGroupFile, kKey, out.c_str(), OP_MATCH_PREFIX) < 0)
        syslog(LOG_ERR, "%s (%s):%d KORLFileSetLine() write %s failed! key=[%s] errno=[0x%04X]", UPDT_SOURCE,
               __func__, __LINE__, kGroupFile, kKey, KORLErrGet());
    return 0;
}
