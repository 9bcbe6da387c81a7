// Work lists and hashes inside library functions, freed on every return. addr() is for the calls
// that may move the block.
#pragma once

#include "korv/hash.h"
#include "korv/list.h"

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

}  // namespace korv
