// Owners of descriptors and streams inside library functions, so early returns release them.
#pragma once

#include <stdio.h>
#include <unistd.h>

#include <utility>

namespace korv {

// A file descriptor closed on scope exit; -1 when empty.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// A stdio stream closed on scope exit. close() reports the result where it matters.
class UniqueFile {
public:
    UniqueFile() = default;
    explicit UniqueFile(FILE *fp) : fp_(fp) {}
    UniqueFile(const UniqueFile &) = delete;
    UniqueFile &operator=(const UniqueFile &) = delete;
    UniqueFile(UniqueFile &&other) noexcept : fp_(other.release()) {}
    UniqueFile &operator=(UniqueFile &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueFile() { reset(); }

    FILE *get() const { return fp_; }
    explicit operator bool() const { return fp_ != nullptr; }
    FILE *release() { return std::exchange(fp_, nullptr); }
    void reset(FILE *fp = nullptr)
    {
        if (fp_)
            ::fclose(fp_);
        fp_ = fp;
    }
    // fclose's result (0 or EOF); the holder is empty afterwards either way.
    int close() { return fp_ ? ::fclose(release()) : 0; }

private:
    FILE *fp_ = nullptr;
};

}  // namespace korv
