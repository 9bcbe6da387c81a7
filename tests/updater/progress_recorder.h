// Every progress value a run writes, in order: "/tmp/update.progress" becomes a FIFO for the
// run, read by a thread of the test, so that no value is missed between two looks at the file.
#pragma once

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace updatertest {

struct ProgressValue {
    char stage = 0;
    int value = 0;
    bool operator==(const ProgressValue &) const = default;
};

class ProgressRecorder {
public:
    // on_value runs in the reader thread for each value as it arrives.
    explicit ProgressRecorder(std::function<void(const ProgressValue &)> on_value = {});
    ~ProgressRecorder();
    ProgressRecorder(const ProgressRecorder &) = delete;
    ProgressRecorder &operator=(const ProgressRecorder &) = delete;

    // Ends the recording: the FIFO is replaced by a plain file holding the last text written.
    // The values, in the order written.
    std::vector<ProgressValue> stop();
    // The last text written, whole ("P:100:      ").
    std::string last_text() const;

private:
    void read_loop();

    std::function<void(const ProgressValue &)> on_value_;
    int fd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<ProgressValue> values_;
    std::string last_;
    bool stopped_ = false;
};

// The values as a reader of the file sees them from these calls: a value that repeats the one
// before it is not written again.
std::vector<ProgressValue> written(const std::vector<ProgressValue> &calls);

// "P:60 P:61 ..." for failure messages.
std::string describe(const std::vector<ProgressValue> &values);

}  // namespace updatertest
