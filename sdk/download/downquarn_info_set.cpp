#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <new>
#include <string>

#include "korv/download.h"
#include "korv/file.h"
#include "korv/file_lock.h"
#include "korv_pid_file.h"
#include "korv_settings.h"
#include "korv_unique.h"

namespace {

// Messages begin with the source file's name as the device's C file carries it.
#define DQ_LOG(fmt, ...) syslog(LOG_ERR, "%s (%d) " fmt, "downquarn_info_set.c", __LINE__ __VA_OPT__(, ) __VA_ARGS__)

template <size_t N>
std::string Text(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

const char *OnOff(int v)
{
    return v ? "yes" : "no";
}

std::string Number(int v)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%i", v);
    return buf;
}

// A value that would end its quoted line early or split it.
bool BreaksValue(const std::string &v)
{
    return v.find_first_of("\r\n\"") != std::string::npos;
}

struct KeyValue {
    const char *key;
    std::string value;
    bool refused;  // btencrypt out of range: the write stops at this key
};

int WriteSettings(const korv::LockedSettings &settings, const KORVDOWNQUARNINFO *info)
{
    static const char *const kEncrypt[] = {"disable", "auto", "always"};
    const bool encryptOk = info->btencrypt >= 0 && info->btencrypt <= 2;
    const KeyValue keys[] = {
        {"download_enabled", OnOff(info->enabled), false},
        {"download_order", info->order == 1 ? "user" : "request", false},
        {"download_when", Text(info->when), false},
        {"download_ul_rate", Number(info->ul_rate), false},
        {"download_dl_rate", Number(info->dl_rate), false},
        {"download_start_port", Number(info->start_port), false},
        {"download_end_port", Number(info->end_port), false},
        {"download_port_map_enabled", OnOff(info->port_map_enabled), false},
        {"download_seeding_interval", Number(info->seeding_interval), false},
        {"download_seeding_ratio", Number(info->seeding_ratio), false},
        {"download_enable_dht", OnOff(info->enable_dht), false},
        {"download_dhtport", Number(info->dhtport), false},
        {"download_btencrypt", encryptOk ? kEncrypt[info->btencrypt] : "", !encryptOk},
        {"download_btmaxpeers", Number(info->btmaxpeers), false},
        {"download_enable_amule", OnOff(info->enable_amule), false},
        {"download_amule_ul_rate", Number(info->amule_ul_rate), false},
        {"download_amule_dl_rate", Number(info->amule_dl_rate), false},
        {"download_amule_tcp_port", Number(info->amule_tcp_port), false},
        {"download_amule_udp_port", Number(info->amule_udp_port), false},
        {"download_amule_max_conn", Number(info->amule_max_conn), false},
        {"download_amule_auto_connect", Number(info->amule_auto_connect), false},
        {"download_amule_enable_obfuscation", Number(info->amule_enable_obfuscation), false},
        {"download_amule_outgoing_obfuscation", Number(info->amule_outgoing_obfuscation), false},
        {"download_amule_only_obfuscation", Number(info->amule_only_obfuscation), false},
        {"download_amule_auto_update_server", Number(info->amule_auto_update_server), false},
        {"download_maxtasks", Number(info->maxtasks), false},
        {"download_nzb_server", Text(info->nzb_server), false},
        {"download_nzb_port", Number(info->nzb_port), false},
        {"download_nzb_auth", OnOff(info->nzb_auth), false},
        {"download_nzb_user", Text(info->nzb_user), false},
        {"download_nzb_password", Text(info->nzb_password), false},
        {"download_nzb_numconn", Number(info->nzb_numconn), false},
        {"download_ftpmax_enable", OnOff(info->ftpmax_enable), false},
        {"download_ftpmax", Number(info->ftpmax), false},
        {"download_email_notification", Number(info->email_notification), false},
        {"download_rapidshare_user", Text(info->rapidshare_user), false},
        {"download_rapidshare_password", Text(info->rapidshare_password), false},
    };
    for (const KeyValue &kv : keys) {
        if (BreaksValue(kv.value)) {
            DQ_LOG("There is an error here.");
            return -1;
        }
    }
    for (const KeyValue &kv : keys) {
        if (kv.refused || settings.Set(kv.key, kv.value.c_str()) < 0) {
            DQ_LOG("There is an error here.");
            return -1;
        }
    }
    if (KORVDownQuarnSchedulerSignal(SIGHUP) != 0)
        DQ_LOG("Failed to hup scheduled.");
    return 0;
}

}  // namespace

extern "C" int KORVDownQuarnInfoSet(const KORVDOWNQUARNINFO *info)
{
    if (!info)
        return -1;
    korv::LockedSettings settings;  // exclusive, 5 seconds; released on the one way out
    if (settings.Lock() != 0) {
        DQ_LOG("There is an error here.");
        return -1;
    }
    int result = -1;
    try {
        result = WriteSettings(settings, info);
    } catch (const std::bad_alloc &) {
        DQ_LOG("There is an error here.");
    }
    settings.Unlock();
    return result;
}

extern "C" int KORVDownQuarnSchedulerSignal(int signal)
{
    using Outcome = korv::proc::PidSignal::Outcome;
    const korv::proc::PidSignal s = korv::proc::SignalPidFile(KORV_SCHEDULER_PID, signal);
    switch (s.outcome) {
    case Outcome::CannotOpen:
        DQ_LOG("Failed to open scheduler pid. %s (%d)", strerror(s.err), s.err);
        return -1;
    case Outcome::Empty:
        return -1;
    case Outcome::KillFailed:
        DQ_LOG("Failed to send HUP to scheduler, reason=%s(%d)", strerror(s.err), s.err);
        return -1;
    case Outcome::NoFile:     // the scheduler is not running
    case Outcome::NoPid:
    case Outcome::Sent:
    case Outcome::NoProcess:
        break;
    }
    return 0;
}

extern "C" int KORLAlwaysTrue(void)
{
    return 1;
}

extern "C" int KORLAlwaysTrue2(void)
{
    return 1;
}
