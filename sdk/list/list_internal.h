// Layout of the list block and the steps that several list functions share.
#pragma once

#include <cstdint>
#include <cstring>

#include "korv/list.h"
#include "korv_malloc_ptr.h"

namespace korv::list {

static_assert(sizeof(KORLSZLIST) == 24, "the list header is six 32-bit words");

constexpr int32_t kHeader = 24;  // bytes before the item array
constexpr int32_t kSlot = 4;     // bytes of one item offset

inline char *Base(PKORLSZLIST l) { return reinterpret_cast<char *>(l); }
inline int32_t *Items(PKORLSZLIST l) { return reinterpret_cast<int32_t *>(Base(l) + kHeader); }
inline char *Item(PKORLSZLIST l, int i) { return Base(l) + Items(l)[i]; }
inline bool IsGap(PKORLSZLIST l, int i) { return Items(l)[i] == l->pEmpty; }

// True when p points into the block, so that growing the list would leave it dangling.
inline bool Inside(PKORLSZLIST l, const void *p)
{
    auto at = reinterpret_cast<uintptr_t>(p);
    auto start = reinterpret_cast<uintptr_t>(l);
    return at >= start && at - start < static_cast<uintptr_t>(l->cbSize);
}

// Bytes a string copy of that length takes below pLow. The first copy of a block ends on its last
// byte; an empty one there would be the shared empty string, i.e. a gap, so it takes one byte more.
inline int32_t CopySize(PKORLSZLIST l, size_t len)
{
    return static_cast<int32_t>(len) + (len == 0 && l->pLow == l->cbSize ? 2 : 1);
}

// Expands *plist until it has room for slotBytes of item slots and a copy of a text of len bytes,
// storing every new block through plist. The text s is first copied to keep when it lies in the
// block, since expansion frees the old block; a failed copy is recorded as 0x0200 at the caller's
// file and line. False when either fails; *plist stays valid.
bool MakeRoom(PKORLSZLIST *plist, int64_t slotBytes, size_t len, const char *&s, korv::MallocPtr<char> &keep,
              const char *file, int line);

// Index of s in a list of any mode but the other sorted one: bisection when the list is kept in
// this order, else the first equal item in a scan that skips gaps. -1 when absent.
int Search(PKORLSZLIST list, const char *s, bool caseless);

// strcmp, or the caseless order; the caseless one gives -2 when it fails.
int Compare(const char *a, const char *b, bool caseless);

// Sorts the item array (stable; any comparator result leaves it a permutation).
void SortItems(PKORLSZLIST l, bool caseless);

}  // namespace korv::list
