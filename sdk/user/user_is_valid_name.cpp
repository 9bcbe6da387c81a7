#include <string.h>

#include "korv/unicode.h"
#include "korv/user.h"
#include "korv_name_rule.h"

namespace korv {

bool NameRuleOk(const char *name, int maxChars)
{
    if (!name || !*name)
        return false;
    int chars = KORLUnicodeUTF8StrCountChar(name);
    if (chars < 0 || chars > maxChars)
        return false;
    size_t n = strlen(name);
    if (name[0] == '-' || name[0] == ' ' || name[n - 1] == ' ')
        return false;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
        unsigned c = *p;
        if (c >= 0x80)
            continue;
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                  c == '-' || c == '.' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

}  // namespace korv

extern "C" int KORVUserIsValidName(const char *name)
{
    return korv::NameRuleOk(name, KORV_USER_NAME_MAX) ? 1 : 0;
}
