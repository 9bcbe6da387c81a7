/* The download service's settings ("download_" keys of "/etc/korvinfo.conf") and its scheduler. */
#ifndef KORV_DOWNLOAD_H
#define KORV_DOWNLOAD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KORV_SCHEDULER_PID "/var/run/scheduler.pid"

/* Each field is written to the key "download_" + its name: on/off fields as "yes" or "no",
 * numbers as decimal text, texts as they are (up to the field's size, with or without a NUL). */
typedef struct _tag_KORVDOWNQUARNINFO_ {
    int enabled;                 /* on/off */
    char when[12];
    int order;                   /* 1 "user", other "request" */
    int ul_rate;
    int dl_rate;
    int start_port;
    int end_port;
    int port_map_enabled;        /* on/off */
    int seeding_ratio;
    int seeding_interval;
    int enable_dht;              /* on/off */
    int dhtport;
    int btmaxpeers;
    int btencrypt;               /* 0 "disable", 1 "auto", 2 "always"; others refused */
    int maxtasks;
    int enable_amule;            /* on/off */
    int amule_ul_rate;
    int amule_dl_rate;
    int amule_tcp_port;
    int amule_udp_port;
    int amule_max_conn;
    int amule_auto_connect;
    int amule_enable_obfuscation;
    int amule_outgoing_obfuscation;
    int amule_only_obfuscation;
    int amule_auto_update_server;
    int ftpmax_enable;           /* on/off */
    int ftpmax;
    int email_notification;
    char rapidshare_user[64];
    char rapidshare_password[32];
    char nzb_server[64];
    uint16_t nzb_port;
    int nzb_auth;                /* on/off */
    char nzb_user[64];
    char nzb_password[32];
    int nzb_numconn;
} KORVDOWNQUARNINFO;

/* Writes the 37 keys under lock_korvinfo, then sends SIGHUP to the scheduler: 0, or -1 (the lock,
 * a key write, or btencrypt out of range when its turn comes; earlier keys stay written). A text
 * holding CR, LF or '"' is refused before anything is written. No error code of its own. */
int KORVDownQuarnInfoSet(const KORVDOWNQUARNINFO *info);
/* Sends signal to the pid in "/var/run/scheduler.pid": 0 (also with no pid file, no positive pid
 * or no such process), or -1. */
int KORVDownQuarnSchedulerSignal(int signal);

/* Always 1. */
int KORLAlwaysTrue(void);
int KORLAlwaysTrue2(void);

#ifdef __cplusplus
}
#endif

#endif
