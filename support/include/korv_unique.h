// Owners of descriptors and streams inside library functions, so early returns release them.
#pragma once

#include <stdio.h>
#include <unistd.h>

#include <utility>

namespace korv {

// One owned handle, released on scope exit. Traits give the empty value, the validity test
// and the release call.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) : h_(h) {}
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    UniqueHandle(UniqueHandle &&other) noexcept : h_(other.release()) {}
    UniqueHandle &operator=(UniqueHandle &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return h_; }
    explicit operator bool() const { return Traits::valid(h_); }
    Handle release() { return std::exchange(h_, Traits::empty()); }
    void reset(Handle h = Traits::empty())
    {
        if (Traits::valid(h_))
            Traits::close(h_);
        h_ = h;
    }
    // The release call's result (0 when it succeeded, or when empty); empty afterwards either way.
    int close() { return Traits::valid(h_) ? Traits::close(release()) : 0; }

private:
    Handle h_ = Traits::empty();
};

struct FdTraits {
    using Handle = int;
    static constexpr int empty() { return -1; }
    static bool valid(int fd) { return fd >= 0; }
    static int close(int fd) { return ::close(fd); }
};

struct FileTraits {
    using Handle = FILE *;
    static constexpr FILE *empty() { return nullptr; }
    static bool valid(FILE *fp) { return fp != nullptr; }
    static int close(FILE *fp) { return ::fclose(fp); }
};

struct PipeTraits {
    using Handle = FILE *;
    static constexpr FILE *empty() { return nullptr; }
    static bool valid(FILE *fp) { return fp != nullptr; }
    static int close(FILE *fp) { return ::pclose(fp); }
};

// A file descriptor closed on scope exit; -1 when empty.
using UniqueFd = UniqueHandle<FdTraits>;
// A stdio stream closed on scope exit. close() reports fclose's result where it matters.
using UniqueFile = UniqueHandle<FileTraits>;
// A stream from popen, closed (and its child waited for) on scope exit.
using UniquePipe = UniqueHandle<PipeTraits>;

}  // namespace korv
