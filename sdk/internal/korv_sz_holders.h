// Work lists and hashes inside library functions, freed on every return. addr() is for the calls
// that may move the block.
#pragma once

#include <syslog.h>

#include <source_location>

#include "korv/hash.h"
#include "korv/list.h"
#include "korv_log_at.h"

namespace korv {

class ListHolder {
public:
    explicit ListHolder(PKORLSZLIST list) : list_(list) {}
    ListHolder(const ListHolder &) = delete;
    ListHolder &operator=(const ListHolder &) = delete;
    ~ListHolder() { KORLSzListFree(list_); }

    PKORLSZLIST get() const { return list_; }
    PKORLSZLIST *addr() { return &list_; }
    PKORLSZLIST operator->() const { return list_; }
    explicit operator bool() const { return list_ != nullptr; }

private:
    PKORLSZLIST list_;
};

class HashHolder {
public:
    explicit HashHolder(PKORLSZHASH hash) : hash_(hash) {}
    HashHolder(const HashHolder &) = delete;
    HashHolder &operator=(const HashHolder &) = delete;
    ~HashHolder() { KORLSzHashFree(hash_); }

    PKORLSZHASH get() const { return hash_; }
    PKORLSZHASH *addr() { return &hash_; }
    explicit operator bool() const { return hash_ != nullptr; }

private:
    PKORLSZHASH hash_;
};

// The names a store walk has met: a record stored anew may be met again by the cursor.
class SeenNames {
public:
    explicit operator bool() const { return bool(seen_); }

    // 1 the first time name is met, 0 after; -1 when it cannot be remembered (logged at loc).
    int First(const char *name, std::source_location loc = std::source_location::current())
    {
        if (SzKORLSzHashGetValue(seen_.get(), name))
            return 0;
        if (KORLSzHashSetValue(seen_.addr(), name, "1") < 0) {
            LogAt(LOG_ERR, loc, "HashSetValue failed.");
            return -1;
        }
        return 1;
    }

private:
    HashHolder seen_{PshKORLSzHashAlloc(512)};
};

}  // namespace korv
