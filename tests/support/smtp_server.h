// A real SMTP server inside the sandbox for the mail tests (Debian's python3-aiosmtpd on the
// sandbox's own loopback, which the launcher brings up).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace korvtest {

// One message as the server received it.
struct SmtpMessage {
    std::string from;             // envelope sender
    std::vector<std::string> to;  // envelope recipients, in order
    std::string login;            // the user that logged in, "" without a login
    std::string raw;              // the message as sent (CRLF lines)
    std::string header(const std::string &name) const;  // first header of that name, unfolded
    std::string subject() const;  // the Subject header with its encoded words decoded
    std::string body() const;     // after the blank line, CRLF turned into LF
};

class SmtpServer {
public:
    // Starts the server on 127.0.0.1:port and waits (bounded) until it listens; refuse makes it
    // refuse every recipient. started() tells whether it came up.
    SmtpServer(int port, bool refuse = false);
    // The same, requiring a login as user with password.
    SmtpServer(int port, const std::string &user, const std::string &password);
    ~SmtpServer();
    SmtpServer(const SmtpServer &) = delete;
    SmtpServer &operator=(const SmtpServer &) = delete;

    bool started() const { return started_; }
    // The messages received so far, waiting up to timeoutMs for at least count of them.
    std::vector<SmtpMessage> messages(size_t count = 0, int timeoutMs = 20000) const;

private:
    void Start(int port, const std::vector<std::string> &mode);

    pid_t pid_ = -1;
    std::string dir_;
    bool started_ = false;
};

// Waits up to timeoutMs for the child pid to end: its wait status, or -1 when it did not.
int wait_child(pid_t pid, int timeoutMs = 20000);

}  // namespace korvtest
