// What the record-store tests share: an owned handle, walks read back whole, and raw markers.
#pragma once

#include <fcntl.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "case_label.h"
#include "korv/bdb.h"
#include "korv/error.h"

namespace bdbtest {

using korvtest::kUntouched;
using korvtest::mark_error;

// Owner of an open store.
class Store {
public:
    Store(const char *path, int flags = O_RDWR | O_CREAT, int dup = 0) : h_(KORVBDbOpen(path, flags, dup)) {}
    ~Store() { close(); }
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;
    KORVBDB *get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void close()
    {
        if (h_)
            KORVBDbClose(h_);
        h_ = nullptr;
    }

private:
    KORVBDB *h_;
};

// A caller's copy-out buffer pair.
struct Buf {
    void *p = nullptr;
    int cb = 0;
    ~Buf() { KORVBDbFree(p); }
    std::string str() const { return std::string(static_cast<const char *>(p), static_cast<size_t>(cb)); }
};

inline void set(KORVBDB *h, const std::string &key, const std::string &value)
{
    ASSERT_EQ(0, KORVBDbSet(h, key.data(), static_cast<int>(key.size()), value.data(), static_cast<int>(value.size())))
        << key;
}

// The stored value of key as bytes; "<absent>" when the get fails with 0x2000.
inline std::string get(KORVBDB *h, const std::string &key)
{
    Buf b;
    if (KORVBDbGet(h, key.data(), static_cast<int>(key.size()), &b.p, &b.cb) != 0)
        return KORLErrGet() == KORL_ERR_NOT_FOUND ? "<absent>" : "<error>";
    return b.str();
}

using Records = std::vector<std::pair<std::string, std::string>>;

// A whole walk in one direction: first (or last) and then next (or previous), until 0xB500.
inline Records walk(KORVBDB *h, int skipMarkers, bool backward = false)
{
    Records out;
    EXPECT_EQ(0, KORVBDbCursorSetType(h, backward ? KORV_BDB_CURSOR_LAST : KORV_BDB_CURSOR_FIRST));
    Buf k, d;
    for (int i = 0; i < 100000; i++) {
        if (KORVBDbCursorGet(h, skipMarkers, &k.p, &k.cb, &d.p, &d.cb) != 0) {
            EXPECT_EQ(KORL_ERR_BDB_END, KORLErrGet());
            return out;
        }
        out.emplace_back(k.str(), d.str());
        if (i == 0) {
            EXPECT_EQ(0, KORVBDbCursorSetType(h, backward ? KORV_BDB_CURSOR_PREV : KORV_BDB_CURSOR_NEXT));
        }
    }
    ADD_FAILURE() << "the walk does not end";
    return out;
}

inline std::string le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; i++)
        s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
    return s;
}

}  // namespace bdbtest
