#include "korvtest.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace korvtest {

bool mount_small_disk(const std::string &path, size_t bytes)
{
    make_dirs(path);
    std::string options = "size=" + std::to_string(bytes);
    return mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

bool mount_read_only(const std::string &path)
{
    constexpr unsigned long kKept = MS_NOSUID | MS_NODEV;
    return mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           mount(nullptr, path.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY | kKept, nullptr) == 0;
}

namespace {

const char kSyslogFile[] = "/.korvsim/syslog";
size_t gSyslogStart = 0;  // file offset where syslog_clear left off

std::string unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char c = text[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Sends a marker behind every message already queued and waits until the recorder wrote it.
void syslog_sync()
{
    static unsigned counter = 0;
    char nonce[64];
    snprintf(nonce, sizeof nonce, "%d-%u", static_cast<int>(getpid()), ++counter);
    std::string datagram = std::string("\x01korvsim-sync ") + nonce;

    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0)
        throw std::runtime_error("syslog sync socket");
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/dev/log");
    ssize_t sent = sendto(sock, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&addr),
                          sizeof addr);
    close(sock);
    if (sent < 0)
        throw std::runtime_error(std::string("syslog sync send: ") + strerror(errno));

    std::string wanted = std::string("sync\t\t") + nonce + "\n";
    for (int i = 0; i < 20000; ++i) {  // up to 20 s
        if (read_file(kSyslogFile).find(wanted) != std::string::npos)
            return;
        struct timespec ts {0, 1000000};
        nanosleep(&ts, nullptr);
    }
    throw std::runtime_error("syslog recorder did not answer");
}

std::string strip_newline(const std::string &s)
{
    if (!s.empty() && s.back() == '\n')
        return s.substr(0, s.size() - 1);
    return s;
}

}  // namespace

std::vector<SyslogLine> syslog_lines()
{
    syslog_sync();
    std::string all = read_file(kSyslogFile);
    std::vector<SyslogLine> lines;
    std::istringstream in(all.substr(std::min(gSyslogStart, all.size())));
    std::string row;
    while (std::getline(in, row)) {
        if (row.rfind("sync\t", 0) == 0)
            continue;
        size_t t1 = row.find('\t');
        size_t t2 = t1 == std::string::npos ? t1 : row.find('\t', t1 + 1);
        if (t2 == std::string::npos)
            continue;
        SyslogLine line;
        line.priority = atoi(row.substr(0, t1).c_str());
        line.tag = row.substr(t1 + 1, t2 - t1 - 1);
        line.message = unescape(row.substr(t2 + 1));
        lines.push_back(line);
    }
    return lines;
}

void syslog_clear()
{
    syslog_sync();
    gSyslogStart = read_file(kSyslogFile).size();
}

bool syslog_has(const std::string &message, int severity)
{
    for (const SyslogLine &line : syslog_lines()) {
        if (strip_newline(line.message) == strip_newline(message) && (severity < 0 || line.severity() == severity))
            return true;
    }
    return false;
}

bool syslog_contains(const std::string &fragment)
{
    for (const SyslogLine &line : syslog_lines()) {
        if (line.message.find(fragment) != std::string::npos)
            return true;
    }
    return false;
}

bool syslog_has_pattern(const std::string &expected, int severity)
{
    std::string pattern;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected.compare(i, 3, "<L>") == 0) {
            pattern += "[0-9]+";
            i += 2;
        } else if (strchr("\\^$.|?*+()[]{}", expected[i])) {
            pattern += std::string("\\") + expected[i];
        } else {
            pattern += expected[i];
        }
    }
    std::regex re(pattern);
    for (const SyslogLine &line : syslog_lines())
        if ((severity < 0 || line.severity() == severity) && std::regex_match(line.message, re))
            return true;
    return false;
}

std::string syslog_dump()
{
    std::string out;
    for (const SyslogLine &line : syslog_lines())
        out += "<" + std::to_string(line.priority) + "> " + line.message + "\n";
    return out;
}

void install_updater(const std::string &path)
{
    if (!file_exists(KORV_BINARY_DIR "/bin/updater"))
        throw std::runtime_error("no updater in " KORV_BINARY_DIR "/bin");
    copy_file(KORV_BINARY_DIR "/bin/updater", path, 0755);
}

int run_shell(const std::string &command, std::string *output)
{
    fflush(nullptr);
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        text.append(buf, n);
    int status = pclose(pipe);
    if (output)
        *output = text;
    if (status < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string shell_quote(const std::string &word)
{
    bool plain = !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                         "0123456789@%+=:,./_-") == std::string::npos;
    if (plain)
        return word;
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace korvtest
