// The host and company names that notices carry.
#include <string.h>
#include <unistd.h>

#include <cstdio>

#include "korv/file.h"
#include "korv/mail.h"
#include "mail_internal.h"

namespace korv::mail {

void ShortHostName(char *buf, size_t size)
{
    if (gethostname(buf, size) != 0)
        buf[0] = '\0';
    buf[size - 1] = '\0';
    buf[strcspn(buf, " .\t")] = '\0';
}

void CompanyName(char *buf, size_t size, const char *absent)
{
    int got = KORLFileGetKeyValue(KORV_INFO_DEFAULTS, "mailfrom", buf, static_cast<int>(size), 0);
    if (got < 0)
        snprintf(buf, size, "Vaultmere");
    else if (got == 0)
        snprintf(buf, size, "%s", absent);
}

}  // namespace korv::mail
