#include <stdlib.h>
#include <string.h>

#include "korv/mail.h"
#include "korv_internal.h"

namespace {

// A zeroed node with copies of name and address (either may be null): the node, or null.
KORVSMTPADDR *Node(const char *name, const char *addr)
{
    auto *node = static_cast<KORVSMTPADDR *>(calloc(1, sizeof(KORVSMTPADDR)));
    if (!node)
        return nullptr;
    if ((name && !(node->szName = strdup(name))) || (addr && !(node->szAddr = strdup(addr)))) {
        free(node->szName);
        free(node);
        return nullptr;
    }
    return node;
}

bool Empty(const char *s)
{
    return !s || !*s;
}

}  // namespace

extern "C" int KORVMailFillSmtpStruct(KORVSMTP *smtp, const KORVMAILCONF *conf, const char *fromName, const char *to)
{
    if (!smtp || !conf || !fromName) {
        KORV_LOG_PAREN("Bad parameter.");
        return -1;
    }
    if (Empty(conf->szServer)) {
        KORV_LOG_PAREN("SMTP server can't be empty.");
        return -1;
    }
    if (!(smtp->szServer = strdup(conf->szServer)))
        return -1;
    smtp->port = conf->port;
    smtp->auth = conf->auth;
    if (conf->auth) {
        if (!(smtp->szUser = strdup(conf->szUser ? conf->szUser : "")) ||
            !(smtp->szPass = strdup(conf->szPass ? conf->szPass : "")))
            return -1;
    }
    smtp->ssl = conf->ssl;

    const char *fromAddr = !Empty(conf->szMail1) ? conf->szMail1 : to;
    if (!(smtp->pFrom = Node(fromName, Empty(fromAddr) ? nullptr : fromAddr))) {
        KORV_LOG_PAREN("Failed to malloc pFrom.");
        return -1;
    }
    const char *first = to ? to : (Empty(conf->szMail1) ? nullptr : conf->szMail1);
    if (!(smtp->pTo = Node(nullptr, first))) {
        KORV_LOG_PAREN("Failed to malloc pTo.");
        return -1;
    }
    if (!to && !Empty(conf->szMail2)) {
        KORVSMTPADDR *second = Node(nullptr, conf->szMail2);
        if (!second) {
            KORV_LOG_PAREN("Failed to calloc().");
            return -1;
        }
        second->pNext = smtp->pTo;
        smtp->pTo = second;
    }
    return 0;
}
