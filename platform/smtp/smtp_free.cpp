#include <stdlib.h>

#include <initializer_list>

#include "korv/mail.h"
#include "smtp_internal.h"

namespace {

void FreeChain(KORVSMTPADDR *node)
{
    while (node) {
        KORVSMTPADDR *next = node->pNext;
        free(node->szName);
        free(node->szAddr);
        free(node);
        node = next;
    }
}

}  // namespace

// Frees what the message points to, not the message.
KORVSMTP_EXPORT void KORVSMTPFreeKORVSMTP(KORVSMTP *smtp)
{
    if (!smtp)
        return;
    for (char **text : {&smtp->szServer, &smtp->szUser, &smtp->szPass, &smtp->szSubject, &smtp->szBody,
                        &smtp->szHeader}) {
        free(*text);
        *text = nullptr;
    }
    FreeChain(smtp->pTo);
    FreeChain(smtp->pFrom);
    smtp->pTo = nullptr;
    smtp->pFrom = nullptr;
}
