// The live user, group or share database of a test, opened (and built when missing) and closed
// with the holder.
#pragma once

namespace korvtest {

template <typename Set, Set *(*Open)(), void (*Close)(Set *)>
class DbHolder {
public:
    explicit DbHolder(bool open = true) : set_(open ? Open() : nullptr) {}
    ~DbHolder() { close(); }
    DbHolder(const DbHolder &) = delete;
    DbHolder &operator=(const DbHolder &) = delete;
    void open()
    {
        close();
        set_ = Open();
    }
    // A null database is never closed: the share close records 0x0D00 for it.
    void close()
    {
        if (set_)
            Close(set_);
        set_ = nullptr;
    }
    Set *get() const { return set_; }
    Set **addr() { return &set_; }
    Set *operator->() const { return set_; }
    explicit operator bool() const { return set_ != nullptr; }

private:
    Set *set_;
};

}  // namespace korvtest
