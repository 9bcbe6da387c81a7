/* Mail notices sent by a forked child through the SMTP plug-in, the DDNS accounts and the local
 * date and time. */
#ifndef KORV_MAIL_H
#define KORV_MAIL_H

#include "korv/hash.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The plug-in that speaks SMTP, loaded when a notice is sent. */
#define KORV_SMTP_PLUGIN   "/lib/libkorvsmtp.so"
/* Templates: KORV_MAIL_TEXTS + language + "/mails". */
#define KORV_MAIL_TEXTS    "/usr/korv/korvman/webman/texts/"
#define KORV_MAIL_TEMP     "/tmp/tempmail.%d"
#define KORV_DDNS_CONF     "/etc/ddns.conf"
#define KORV_INFO_DEFAULTS "/etc.defaults/korvinfo.conf"

/* Event code of a notice that could not be sent. */
#define KORV_EVENT_MAIL_FAILED 0x11100800u

/* The mail settings of "/etc/korvinfo.conf"; texts are heap copies ("" when absent). */
typedef struct _tag_KORVMAILCONF_ {
    char *szServer; /* "eventsmtp" */
    int port;       /* "eventport"; 25 when absent, empty or 0 */
    int auth;       /* "eventauth" "yes" in any case: 1 */
    char *szUser;   /* "eventuser" */
    char *szPass;   /* "eventpass" */
    int ssl;        /* "eventusessl" "yes" in any case: 1 */
    char *szMail1;  /* "eventmail1", the first recipient */
    char *szMail2;  /* "eventmail2", the second recipient */
} KORVMAILCONF;

/* One address of a mail, as the plug-in takes it; zeroed nodes, heap texts. */
typedef struct _tag_KORVSMTPADDR_ {
    char *szName;                       /* display name, may be null */
    char *szAddr;                       /* mail address */
    struct _tag_KORVSMTPADDR_ *pNext;
} KORVSMTPADDR;

/* The message handed to the plug-in, zeroed at first; every text a heap copy. On the device each
 * field is one 32-bit word (52 bytes). */
typedef struct _tag_KORVSMTP_ {
    char *szServer;
    int port;
    int auth;
    char *szUser;    /* only with auth */
    char *szPass;    /* only with auth */
    int ssl;
    KORVSMTPADDR *pTo;
    KORVSMTPADDR *pFrom;
    int reserved1;   /* left zero */
    int reserved2;   /* left zero */
    char *szSubject; /* already encoded */
    char *szBody;
    char *szHeader;  /* extra header lines, each ending with "\n" */
} KORVSMTP;

/* What the plug-in reports a failure through. */
typedef void (*KORVSMTPERRORCB)(const char *message);
/* The plug-in's three functions, looked up by these names. */
typedef int (*KORVSMTPSENDEMAILFN)(KORVSMTP *smtp, KORVSMTPERRORCB onError);
typedef void (*KORVSMTPFREEFN)(KORVSMTP *smtp);
typedef char *(*SZBASE64ENCODEFN)(const char *data, int len);

/* One DDNS account of "/etc/ddns.conf". */
typedef struct _tag_KORVDDNSCONF_ {
    char szName[16];
    char szHost[128];
    char szUser[128];
    char szPass[128];
} KORVDDNSCONF;

/* Sends the notice of tag to the configured recipients. */
int KORVMailSend(const char *tag, PKORLSZHASH *ptags);
/* The same to one recipient (null: the configured ones). */
int KORVMailSendTo(const char *tag, PKORLSZHASH *ptags, const char *to);
/* Forks a child that sends the notice and returns its pid at once (never waited for), or -1.
 * ptags may be null; conf null reads the settings. */
int KORVMailSendMessage(const char *tag, PKORLSZHASH *ptags, const char *to, const KORVMAILCONF *conf);
/* Reads the mail settings: 0, or -1. */
int KORVMailGet(KORVMAILCONF *conf);
/* Frees the texts and sets them to null. */
void KORVMailFree(KORVMAILCONF *conf);
/* Fills smtp for the plug-in: 0, or -1 (what was allocated stays for the plug-in's free). */
int KORVMailFillSmtpStruct(KORVSMTP *smtp, const KORVMAILCONF *conf, const char *fromName, const char *to);
/* The subject and body of the tag's block of the language's template, tags filled: 0, or -1. */
int KORVMailReadByTagAndConvert(const char *lang, const char *tag, char *subject, int subjectSize, char *body,
                                int bodySize, PKORLSZHASH *ptags);
/* Fills the library's own tags into *ptags and replaces every tag in the file at path: 0, or -1. */
int MailTagConvert(const char *path, PKORLSZHASH *ptags);
/* Writes the failure event and logs the message. */
void KORVMailSmtpErrorCallBack(const char *message);
/* The DDNS account name: 1 found whole, 0 no such account, -1. */
int KORVDDNSConfigGet(const char *name, KORVDDNSCONF *ddns);
/* Local year, month, day, hour, minute, second: 0, or -1 (0x8100). */
int KORLTimeDateGet(int date[6]);

#ifdef __cplusplus
}
#endif

#endif
