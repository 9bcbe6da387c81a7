#include "updater_run.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "korv/simctl.h"
#include "korvtest.h"

namespace updatertest {

std::string progress(char stage, int value)
{
    return std::string(1, stage) + ":" + std::to_string(value) + ":      ";
}

pid_t fork_with_output(int *out, const std::function<void()> &in_child)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        in_child();
        _exit(127);
    }
    close(fds[1]);
    *out = fds[0];
    return pid;
}

std::string read_to_end(int fd)
{
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    close(fd);
    return text;
}

RunResult run_updater(const RunSpec &spec)
{
    if (!korvtest::file_exists(spec.program))
        korvtest::install_updater(spec.program);
    korvsim::ctl::clear_requests();

    std::vector<std::string> words = {spec.argv0.empty() ? spec.program : spec.argv0};
    words.insert(words.end(), spec.args.begin(), spec.args.end());
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    std::atomic<pid_t> child{0};
    std::unique_ptr<ProgressRecorder> recorder;
    if (spec.record_progress) {
        auto hook = spec.on_progress;
        recorder = std::make_unique<ProgressRecorder>([hook, &child](const ProgressValue &v) {
            if (hook)
                hook(child.load(), v);
        });
    }

    int outFd = -1;
    pid_t pid = fork_with_output(&outFd, [&] {
        if (chdir(spec.cwd.c_str()) != 0)
            _exit(120);
        if (spec.uid >= 0 && (setgid(spec.uid) != 0 || setuid(spec.uid) != 0))
            _exit(122);
        execv(spec.program.c_str(), argv.data());
        _exit(121);
    });
    child = pid;
    RunResult r;
    r.out = read_to_end(outFd);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    if (recorder)
        r.progress_values = recorder->stop();

    r.progress = korvtest::read_file("/tmp/update.progress");
    r.message = korvtest::read_file("/tmp/update.message");
    std::istringstream log(korvtest::read_file("/var/log/korvupdate.log"));
    static const std::regex stamp("^[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\t");
    for (std::string line; std::getline(log, line);) {
        std::smatch m;
        if (std::regex_search(line, m, stamp)) {
            line = m.suffix();
        } else {
            r.stamps_ok = false;
        }
        r.log.push_back(line);
    }
    for (const auto &req : korvsim::ctl::requests("kernel", "SYS405"))
        r.sys405.push_back(req.line.substr(req.line.find(' ') + 1));
    return r;
}

}  // namespace updatertest
