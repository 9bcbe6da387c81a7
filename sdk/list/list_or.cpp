#include <cstdlib>

#include "korv_internal.h"
#include "korv_malloc_ptr.h"
#include "list_internal.h"

using namespace korv::list;

namespace {

bool KnownOrder(int mode)
{
    return mode == KORL_SZLIST_SORT || mode == KORL_SZLIST_CASESORT;
}

// The search of a list in the way a sorted list of that mode is searched.
int SearchAs(int mode, PKORLSZLIST list, const char *s)
{
    return mode == KORL_SZLIST_CASESORT ? KORLSzListCaseFind(list, s) : KORLSzListFind(list, s);
}

// Appends the items of from, gaps skipped, from index start on.
bool AppendFrom(PKORLSZLIST from, int start, PKORLSZLIST *pres)
{
    for (int i = start; i < from->nItem; i++) {
        if (!IsGap(from, i) && KORLSzListPush(pres, Item(from, i)) < 0)
            return false;
    }
    return true;
}

// Both unsorted: the first list's items, then the second's that the first lacks.
bool UniteUnsorted(PKORLSZLIST first, PKORLSZLIST other, PKORLSZLIST *pres, bool fresh)
{
    if (fresh && !AppendFrom(first, 0, pres))
        return false;
    for (int j = 0; j < other->nItem; j++) {
        if (IsGap(other, j))
            continue;
        const char *s = Item(other, j);
        // In place the scan sees what this call already appended.
        if (KORLSzListFind(fresh ? first : *pres, s) < 0 && KORLSzListPush(pres, s) < 0)
            return false;
    }
    return true;
}

// First unsorted, second sorted: the second's items, with the first's that the second lacks.
bool UniteIntoSorted(PKORLSZLIST first, PKORLSZLIST other, PKORLSZLIST *pres, bool fresh, int flags)
{
    int own = fresh ? first->nItem : (*pres)->nItem;
    if (!AppendFrom(other, 0, pres))
        return false;
    if (!fresh) {
        for (int i = 0; i < own;) {
            if (SearchAs(other->sortMode, other, Item(*pres, i)) >= 0 && flags == 0) {
                SzKORLSzListRemove(*pres, i);
                own--;
                continue;
            }
            i++;
        }
        return true;
    }
    for (int i = 0; i < first->nItem; i++) {
        if (IsGap(first, i))
            continue;
        const char *s = Item(first, i);
        if (SearchAs(other->sortMode, other, s) < 0 && KORLSzListPush(pres, s) < 0)
            return false;
    }
    return true;
}

// First sorted, second unsorted: the second's items that the result lacks are appended.
bool UniteFromUnsorted(PKORLSZLIST first, PKORLSZLIST other, PKORLSZLIST *pres, bool fresh)
{
    int mode = first->sortMode;
    if (fresh) {
        if (!AppendFrom(first, 0, pres))
            return false;
    } else {
        (*pres)->sortMode = KORL_SZLIST_UNSORTED;
    }
    for (int j = 0; j < other->nItem; j++) {
        if (IsGap(other, j))
            continue;
        const char *s = Item(other, j);
        if (SearchAs(mode, *pres, s) < 0 && KORLSzListPush(pres, s) < 0)
            return false;
    }
    if (!fresh)
        KORLSzListSort(*pres, mode);
    return true;
}

// Both sorted in one mode: a merge walk; equal items are taken once.
bool UniteSorted(PKORLSZLIST first, PKORLSZLIST other, PKORLSZLIST *pres, bool fresh)
{
    int mode = first->sortMode;
    bool caseless = mode == KORL_SZLIST_CASESORT;
    // In place the first list is the result, which moves as it grows: reach it through pres.
    PKORLSZLIST *pfirst = fresh ? &first : pres;
    int n1 = first->nItem;
    int n2 = other->nItem;
    if (!fresh)
        (*pres)->sortMode = KORL_SZLIST_UNSORTED;

    int i = 0, j = 0;
    while (i < n1 && j < n2) {
        if (IsGap(*pfirst, i)) {
            i++;
            continue;
        }
        if (IsGap(other, j)) {
            j++;
            continue;
        }
        const char *a = Item(*pfirst, i);
        const char *b = Item(other, j);
        int c = Compare(a, b, caseless);
        if (caseless && c == -2)
            return false;
        if (c < 0) {
            if (fresh && KORLSzListPush(pres, a) < 0)
                return false;
            i++;
        } else if (c > 0) {
            if (KORLSzListPush(pres, b) < 0)
                return false;
            j++;
        } else {
            if (fresh && KORLSzListPush(pres, a) < 0)
                return false;
            i++;
            j++;
        }
    }
    if ((fresh && !AppendFrom(first, i, pres)) || !AppendFrom(other, j, pres))
        return false;
    KORLSzListSort(*pres, mode);
    return true;
}

}  // namespace

extern "C" PKORLSZLIST PslKORLSzListOr(PKORLSZLIST *plist, PKORLSZLIST other, int flags)
{
    if (!plist || !*plist || !other) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    PKORLSZLIST first = *plist;
    int m1 = first->sortMode;
    int m2 = other->sortMode;
    if (m1 != KORL_SZLIST_UNSORTED && m2 != KORL_SZLIST_UNSORTED && m1 != m2) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        return nullptr;
    }
    bool fresh = flags == KORL_SZLIST_OR_NEW;

    // A list united with itself in place would read the block that its own growth frees.
    korv::MallocPtr<KORLSZLIST> otherCopy;
    if (!fresh && other == first) {
        otherCopy.reset(static_cast<PKORLSZLIST>(malloc(static_cast<size_t>(other->cbSize))));
        if (!otherCopy) {
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return nullptr;
        }
        memcpy(otherCopy.get(), other, static_cast<size_t>(other->cbSize));
        other = otherCopy.get();
    }

    PKORLSZLIST created = nullptr;
    PKORLSZLIST *pres = plist;
    if (fresh) {
        int64_t used = static_cast<int64_t>(first->cbSize) - first->cbFree +
                       (static_cast<int64_t>(other->cbSize) - other->cbFree);
        if (used > INT32_MAX) {
            KORV_ERR(KORL_ERR_NO_MEMORY);
            return nullptr;
        }
        created = PslKORLSzListAlloc(static_cast<int>(used));
        if (!created)
            return nullptr;
        pres = &created;
    } else {
        KORLSzListCompact(first);
    }

    bool done;
    if (m1 == KORL_SZLIST_UNSORTED && m2 == KORL_SZLIST_UNSORTED) {
        done = UniteUnsorted(first, other, pres, fresh);
    } else if (!KnownOrder(m1 == KORL_SZLIST_UNSORTED ? m2 : m1)) {
        KORV_ERR(KORL_ERR_BAD_PARAM);
        done = false;
    } else if (m1 == KORL_SZLIST_UNSORTED) {
        done = UniteIntoSorted(first, other, pres, fresh, flags);
    } else if (m2 == KORL_SZLIST_UNSORTED) {
        done = UniteFromUnsorted(first, other, pres, fresh);
    } else {
        done = UniteSorted(first, other, pres, fresh);
    }

    if (!done) {
        // An in-place result keeps what was appended; a new one is dropped.
        KORLSzListFree(created);
        return nullptr;
    }
    return *pres;
}
