#include "korv/eventlog.h"
#include "korv/mail.h"
#include "korv_internal.h"

extern "C" void KORVMailSmtpErrorCallBack(const char *message)
{
    KORVLogSet1(1, 3, KORV_EVENT_MAIL_FAILED, message, "", "", "");
    KORV_LOG_PAREN("Failed to send email. (%s)", message ? message : "");
}
