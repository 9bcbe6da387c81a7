#include <cstdlib>

#include "korv/unicode.h"
#include "list_internal.h"

namespace korv::list {

int Compare(const char *a, const char *b, bool caseless)
{
    if (caseless)
        return KORLUnicodeUTF8StrCaseCmp(a, b);
    return strcmp(a, b);
}

namespace {

bool Less(PKORLSZLIST l, int32_t a, int32_t b, bool caseless)
{
    int c = Compare(Base(l) + a, Base(l) + b, caseless);
    return caseless ? c == -1 : c < 0;
}

// Merge sort over item offsets. Written out rather than std::sort so that a comparator that is
// not a strict order (a failing caseless comparison) can never step outside the array.
void MergeSort(PKORLSZLIST l, int32_t *items, int32_t *tmp, int n, bool caseless)
{
    if (n < 2)
        return;
    int half = n / 2;
    MergeSort(l, items, tmp, half, caseless);
    MergeSort(l, items + half, tmp, n - half, caseless);
    int i = 0, j = half, k = 0;
    while (i < half && j < n) {
        // Take the right one only when strictly smaller, so equal items keep their order.
        if (Less(l, items[j], items[i], caseless))
            tmp[k++] = items[j++];
        else
            tmp[k++] = items[i++];
    }
    while (i < half)
        tmp[k++] = items[i++];
    while (j < n)
        tmp[k++] = items[j++];
    memcpy(items, tmp, sizeof(int32_t) * n);
}

// Fallback without a scratch buffer: insertion that stops at the array's start.
void InsertionSort(PKORLSZLIST l, int32_t *items, int n, bool caseless)
{
    for (int i = 1; i < n; i++) {
        int32_t v = items[i];
        int j = i;
        while (j > 0) {
            if (!Less(l, v, items[j - 1], caseless))
                break;
            items[j] = items[j - 1];
            j--;
        }
        items[j] = v;
    }
}

}  // namespace

void SortItems(PKORLSZLIST l, bool caseless)
{
    int n = l->nItem;
    if (n < 2)
        return;
    auto *tmp = static_cast<int32_t *>(malloc(sizeof(int32_t) * n));
    if (!tmp) {
        InsertionSort(l, Items(l), n, caseless);
        return;
    }
    MergeSort(l, Items(l), tmp, n, caseless);
    free(tmp);
}

}  // namespace korv::list

using namespace korv::list;

extern "C" void KORLSzListSort(PKORLSZLIST list, int mode)
{
    if (!list)
        return;
    // A list already kept in some order is left as it is; only its mode changes.
    if (list->sortMode == 0) {
        if (mode & KORL_SZLIST_SORT) {
            KORLSzListCompact(list);
            SortItems(list, false);
        } else if (mode & KORL_SZLIST_CASESORT) {
            KORLSzListCompact(list);
            SortItems(list, true);
        }
    }
    list->sortMode = mode;
}
