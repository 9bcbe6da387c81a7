// The mail group: "admin" becomes a member of "smmsp", before a last member "nobody".
#include <string.h>
#include <syslog.h>

#include <string>
#include <vector>

#include "korv/error.h"
#include "korv/file.h"
#include "korv_fields.h"
#include "updater.h"
#include "updater_preflash.h"

namespace {

const char kGroupFile[] = "/etc/group";
const char kKey[] = "smmsp:";
constexpr size_t kLineSize = 1024;

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
    std::string_view f[4];
    if (!korv::AccountFields(line, 4, f, korv::FieldCount::AtLeast)) {
        syslog(LOG_ERR, "%s (%s):%d malformed group line [%s]", UPDT_SOURCE, __func__, __LINE__, buf);
        return 0;
    }
    std::vector<std::string> members;
    if (!f[3].empty())
        members = korv::SplitList(f[3], ',');
    for (const std::string &m : members)
        if (m == "admin")
            return 0;
    if (!members.empty() && members.back() == "nobody")
        members.insert(members.end() - 1, "admin");
    else
        members.push_back("admin");
    std::string out = line.substr(0, static_cast<size_t>(f[3].data() - line.data()));
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
