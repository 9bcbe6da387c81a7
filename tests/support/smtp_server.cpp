// The mail tests' SMTP server; see smtp_server.h.
#include "smtp_server.h"

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "korv/string.h"
#include "korvtest.h"

namespace korvtest {

namespace {

long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

std::string decode_words(const std::string &text)
{
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t start = text.find("=?UTF-8?B?", at);
        if (start == std::string::npos) {
            out += text.substr(at);
            break;
        }
        size_t end = text.find("?=", start + 10);
        if (end == std::string::npos) {
            out += text.substr(at);
            break;
        }
        out += text.substr(at, start - at);
        std::string b64 = text.substr(start + 10, end - start - 10);
        std::string bytes(b64.size(), '\0');
        int cap = static_cast<int>(bytes.size());
        Base64Decode(b64.data(), static_cast<int>(b64.size()), bytes.data(), &cap);
        bytes.resize(static_cast<size_t>(cap));
        out += bytes;
        at = end + 2;
    }
    return out;
}

}  // namespace

std::string SmtpMessage::header(const std::string &name) const
{
    size_t headEnd = raw.find("\r\n\r\n");
    std::string head = raw.substr(0, headEnd);
    size_t at = 0;
    while (at < head.size()) {
        size_t nl = head.find("\r\n", at);
        std::string line = head.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        at = nl == std::string::npos ? head.size() : nl + 2;
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            std::string value = line.substr(name.size() + 1);
            while (at < head.size() && (head[at] == ' ' || head[at] == '\t')) {
                size_t next = head.find("\r\n", at);
                value += head.substr(at, next == std::string::npos ? std::string::npos : next - at);
                at = next == std::string::npos ? head.size() : next + 2;
            }
            size_t first = value.find_first_not_of(' ');
            return first == std::string::npos ? "" : value.substr(first);
        }
    }
    return "";
}

std::string SmtpMessage::subject() const
{
    return decode_words(header("Subject"));
}

std::string SmtpMessage::body() const
{
    size_t headEnd = raw.find("\r\n\r\n");
    std::string text = headEnd == std::string::npos ? "" : raw.substr(headEnd + 4);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

SmtpServer::SmtpServer(int port, bool refuse)
{
    Start(port, refuse ? std::vector<std::string>{"refuse"} : std::vector<std::string>{});
}

SmtpServer::SmtpServer(int port, const std::string &user, const std::string &password)
{
    Start(port, {"auth", user, password});
}

void SmtpServer::Start(int port, const std::vector<std::string> &mode)
{
    char dir[] = "/tmp/smtp.XXXXXX";
    if (!mkdtemp(dir))
        return;
    dir_ = dir;
    std::vector<std::string> args{KORV_HOST_PYTHON, std::string(KORV_SOURCE_DIR) + "/tests/support/smtp_server.py",
                                  dir_, std::to_string(port)};
    args.insert(args.end(), mode.begin(), mode.end());
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        execv(KORV_HOST_PYTHON, argv.data());
        _exit(127);
    }
    if (pid_ < 0)
        return;
    for (long end = now_ms() + 20000; now_ms() < end; usleep(20000)) {
        if (file_exists(dir_ + "/ready")) {
            started_ = true;
            return;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
    }
}

SmtpServer::~SmtpServer()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (wait_child(pid_, 10000) < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
}

std::vector<SmtpMessage> SmtpServer::messages(size_t count, int timeoutMs) const
{
    std::vector<SmtpMessage> out;
    for (long end = now_ms() + timeoutMs;; usleep(20000)) {
        out.clear();
        for (int n = 1;; ++n) {
            std::string path = dir_ + "/msg." + std::to_string(n);
            if (!file_exists(path))
                break;
            std::string text = read_file(path);
            SmtpMessage m;
            size_t nl1 = text.find('\n');
            size_t nl2 = text.find('\n', nl1 + 1);
            size_t nl3 = text.find('\n', nl2 + 1);
            m.from = text.substr(0, nl1);
            std::string to = text.substr(nl1 + 1, nl2 - nl1 - 1);
            m.login = text.substr(nl2 + 1, nl3 - nl2 - 1);
            for (size_t at = 0; !to.empty() && at <= to.size();) {
                size_t tab = to.find('\t', at);
                m.to.push_back(to.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
                if (tab == std::string::npos)
                    break;
                at = tab + 1;
            }
            m.raw = text.substr(nl3 + 1);
            out.push_back(m);
        }
        if (out.size() >= count || now_ms() >= end)
            return out;
    }
}

int wait_child(pid_t pid, int timeoutMs)
{
    for (long end = now_ms() + timeoutMs;; usleep(10000)) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 || now_ms() >= end)
            return -1;
    }
}

}  // namespace korvtest
