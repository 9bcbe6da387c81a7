#include "progress_recorder.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "korvtest.h"

namespace updatertest {

namespace {

const char kProgress[] = "/tmp/update.progress";
const char kEnd = '\n';  // no value holds one: the reader's signal to stop

// One record "%c:%d:" followed by six blanks at the front of text; its length, or 0.
size_t parse_record(const std::string &text, ProgressValue *v)
{
    if (text.size() < 10 || text[1] != ':')
        return 0;
    char *end = nullptr;
    long n = strtol(text.c_str() + 2, &end, 10);
    size_t at = static_cast<size_t>(end - text.c_str());
    if (end == text.c_str() + 2 || at >= text.size() || text[at] != ':' || text.compare(at + 1, 6, "      ") != 0)
        return 0;
    v->stage = text[0];
    v->value = static_cast<int>(n);
    return at + 7;
}

}  // namespace

ProgressRecorder::ProgressRecorder(std::function<void(const ProgressValue &)> on_value) : on_value_(on_value)
{
    korvtest::make_dirs("/tmp");
    unlink(kProgress);
    if (mkfifo(kProgress, 0666) != 0)
        throw std::runtime_error(std::string("mkfifo: ") + strerror(errno));
    // Held open for reading and writing, so that reads wait between two writers instead of ending.
    fd_ = open(kProgress, O_RDWR | O_CLOEXEC);
    if (fd_ < 0)
        throw std::runtime_error(std::string("open fifo: ") + strerror(errno));
    reader_ = std::thread([this] { read_loop(); });
}

ProgressRecorder::~ProgressRecorder()
{
    stop();
}

void ProgressRecorder::read_loop()
{
    std::string pending;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        pending.append(buf, static_cast<size_t>(n));
        for (;;) {
            if (!pending.empty() && pending[0] == kEnd)
                return;
            ProgressValue v;
            size_t used = parse_record(pending, &v);
            if (!used)
                break;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                values_.push_back(v);
                last_ = pending.substr(0, used);
            }
            pending.erase(0, used);
            if (on_value_)
                on_value_(v);
        }
    }
}

std::vector<ProgressValue> ProgressRecorder::stop()
{
    if (!stopped_) {
        stopped_ = true;
        ssize_t n = write(fd_, &kEnd, 1);
        (void)n;
        reader_.join();
        close(fd_);
        unlink(kProgress);
        korvtest::write_file(kProgress, last_text(), 0666);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return values_;
}

std::string ProgressRecorder::last_text() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

std::vector<ProgressValue> written(const std::vector<ProgressValue> &calls)
{
    std::vector<ProgressValue> out;
    for (const auto &v : calls)
        if (out.empty() || !(out.back() == v))
            out.push_back(v);
    return out;
}

std::string describe(const std::vector<ProgressValue> &values)
{
    std::string out;
    for (const auto &v : values)
        out += (out.empty() ? "" : " ") + std::string(1, v.stage) + ":" + std::to_string(v.value);
    return out;
}

}  // namespace updatertest
