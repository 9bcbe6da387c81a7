// What the list tests share: building lists, reading them back and checking their accounting.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "korv/list.h"

namespace listtest {

// Owner of a list; tests pass &ptr to growing calls.
struct List {
    PKORLSZLIST ptr = nullptr;
    explicit List(int size = 0) : ptr(PslKORLSzListAlloc(size)) {}
    List(const List &) = delete;
    List &operator=(const List &) = delete;
    ~List() { KORLSzListFree(ptr); }
    PKORLSZLIST *addr() { return &ptr; }
    PKORLSZLIST operator->() const { return ptr; }
};

inline int32_t itemOffset(PKORLSZLIST l, int i)
{
    int32_t off;
    std::memcpy(&off, reinterpret_cast<const char *>(l) + 24 + 4 * i, 4);
    return off;
}

inline bool isGap(PKORLSZLIST l, int i) { return itemOffset(l, i) == l->pEmpty; }

// Items as texts; gaps as "<gap>".
inline std::vector<std::string> items(PKORLSZLIST l)
{
    std::vector<std::string> out;
    for (int i = 0; i < l->nItem; i++)
        out.push_back(isGap(l, i) ? std::string("<gap>") : std::string(SzKORLSzListGet(l, i)));
    return out;
}

inline void pushAll(List &l, const std::vector<std::string> &texts)
{
    for (const auto &t : texts)
        ASSERT_GE(KORLSzListPush(l.addr(), t.c_str()), 0) << t;
}

// Builds a list from texts in that order ("<gap>" entries become gaps before the next text), then
// sets mode on it (sorted modes expect sorted texts, or sort them).
inline void build(List &l, const std::vector<std::string> &texts, int mode = 0)
{
    int gaps = 0;
    for (const auto &t : texts) {
        if (t == "<gap>") {
            gaps++;
            continue;
        }
        ASSERT_GE(KORLSzListInsert(l.addr(), l->nItem + gaps, t.c_str()), 0) << t;
        gaps = 0;
    }
    ASSERT_EQ(l->nItem, static_cast<int>(texts.size()));
    if (mode)
        KORLSzListSort(l.ptr, mode);
}

// The block's accounting: 24 + 4 x nItem + cbFree + (end - pLow) = cbSize, the last byte NUL,
// and every item inside the string area or a gap.
inline ::testing::AssertionResult sound(PKORLSZLIST l)
{
    const char *b = reinterpret_cast<const char *>(l);
    int64_t sum = 24 + 4 * int64_t(l->nItem) + l->cbFree + (l->cbSize - l->pLow);
    if (sum != l->cbSize)
        return ::testing::AssertionFailure() << "accounting " << sum << " != " << l->cbSize;
    if (l->pEmpty != l->cbSize - 1 || b[l->pEmpty] != 0)
        return ::testing::AssertionFailure() << "pEmpty " << l->pEmpty;
    if (l->cbFree < 0 || l->pLow < 24 + 4 * l->nItem)
        return ::testing::AssertionFailure() << "cbFree " << l->cbFree << " pLow " << l->pLow;
    for (int i = 0; i < l->nItem; i++) {
        int32_t off = itemOffset(l, i);
        if (off != l->pEmpty && (off < l->pLow || off >= l->cbSize))
            return ::testing::AssertionFailure() << "item " << i << " at " << off;
    }
    return ::testing::AssertionSuccess();
}

// Every free byte is zero: nothing stale reaches a stored form.
inline ::testing::AssertionResult freeBytesZero(PKORLSZLIST l)
{
    const unsigned char *b = reinterpret_cast<const unsigned char *>(l);
    for (int32_t at = 24 + 4 * l->nItem; at < l->pLow; at++) {
        if (b[at] != 0)
            return ::testing::AssertionFailure() << "free byte " << at << " is " << int(b[at]);
    }
    return ::testing::AssertionSuccess();
}

using Texts = std::vector<std::string>;

}  // namespace listtest
