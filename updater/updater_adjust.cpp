// The size adjustment of the patch plan: erase blocks move from the partitions with the most to
// spare to those whose image no longer fits, then the partitions that change are placed anew;
// and the check that the plan so made still fits the flash.
#include <stdint.h>
#include <string.h>
#include <strings.h>
#include <syslog.h>

#include <algorithm>
#include <vector>

#include "updater_patch.h"

namespace {

// Neither a fixed partition nor the boot loader gives blocks away.
bool MayDonate(const UPDTPATCHINFO &entry)
{
    return !UPDTIsFixedPartition(entry.name) && strcasecmp(entry.name, "RedBoot") != 0;
}

// Gives entry i the blocks it lacks as choosing the donor afresh for each block would: the
// greatest balance, the first of equals. Counted level by level: the donors at the top level
// give together down to the next level, and the last round goes in table order. false when the
// donors run out (they keep what they gave).
bool Donate(UPDTPATCHINFO *table, int count, int i)
{
    int64_t need = -int64_t(table[i].balance);
    auto give = [&](int j, int64_t n) {
        table[j].balance -= static_cast<int32_t>(n);
        table[j].adjust -= static_cast<int32_t>(n);
        table[i].balance += static_cast<int32_t>(n);
        table[i].adjust += static_cast<int32_t>(n);
    };
    // What the entry received so far stays within its adjust.
    if (need > int64_t(INT32_MAX) - table[i].adjust)
        return false;
    while (need > 0) {
        int64_t top = 0;
        for (int j = 0; j < count; ++j)
            if (j != i && MayDonate(table[j]) && table[j].balance > top)
                top = table[j].balance;
        if (top <= 0)
            return false;
        int64_t below = 0;
        int64_t atTop = 0;
        for (int j = 0; j < count; ++j) {
            if (j == i || !MayDonate(table[j]))
                continue;
            if (table[j].balance == top)
                ++atTop;
            else if (table[j].balance > below)
                below = table[j].balance;
        }
        int64_t rounds = top - below;
        int64_t each = need >= rounds * atTop ? rounds : need / atTop;
        int64_t rest = need >= rounds * atTop ? 0 : need % atTop;
        for (int j = 0; j < count; ++j) {
            if (j == i || !MayDonate(table[j]) || table[j].balance != top)
                continue;
            int64_t n = each + (rest > 0 ? 1 : 0);
            rest -= rest > 0 ? 1 : 0;
            give(j, n);
            need -= n;
        }
    }
    return true;
}

// The directory entry of a name, without a message: the plan's names were all found before.
int FindEntry(const char *name, const KORVMTDFISENTRY *entries, int count)
{
    for (int i = 0; i < count; ++i) {
        size_t len = strnlen(entries[i].name, sizeof entries[i].name);
        if (strlen(name) == len && strncasecmp(entries[i].name, name, len) == 0)
            return i;
    }
    return -1;
}

struct Range {
    uint64_t start = 0, end = 0;
};

}  // namespace

int ErrUPDTAdjustPartitionSize(UPDTPATCHINFO *table, int count)
{
    return UPDTAdjustPlan(__func__, table, count, gEraseBlockSize);
}

int UPDTAdjustPlan(const char *func, UPDTPATCHINFO *table, int count, uint32_t eraseBlock)
{
    if (!table || count <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error", func, __LINE__);
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        if (table[i].balance < 0 && !Donate(table, count, i)) {
            syslog(LOG_ERR, "%s(%d): negative balance", func, __LINE__);
            return -1;
        }
    }

    // A partition that grows pushes the later ones up by the blocks it took; a donor pulls
    // them back.
    int64_t shift = 0;
    const int64_t block = eraseBlock;
    for (int k = 0; k < count && table[k].name; ++k) {
        UPDTPATCHINFO &e = table[k];
        if (UPDTIsFixedPartition(e.name) || (shift == 0 && e.adjust == 0))
            continue;
        int64_t start = int64_t(e.start) + shift * block;
        int64_t size = int64_t(e.size) + int64_t(e.adjust) * block;
        if (start < 0 || size < 0 || start + size > (int64_t(1) << 32)) {
            syslog(LOG_ERR, "%s(%d): partition [%s] would leave the address space", func, __LINE__, e.name);
            return -1;
        }
        e.start = static_cast<uint32_t>(start);
        e.size = static_cast<uint32_t>(size);
        e.fneedupdate = 1;
        shift += e.adjust;
    }
    return 0;
}

int ErrUPDTCheckPatchPlan(const UPDTPATCHINFO *table, int count, const KORVMTDFISENTRY *entries, int nEntries)
{
    if (!table || count <= 0 || !entries || nEntries <= 0) {
        syslog(LOG_ERR, "%s(%d): parameter error", __func__, __LINE__);
        return -1;
    }
    // The partitions as they will lie: the directory's, with the plan's changes.
    std::vector<Range> planned(static_cast<size_t>(nEntries));
    Range flash{UINT64_MAX, 0};
    for (int d = 0; d < nEntries; ++d) {
        planned[d] = {entries[d].flash_base, uint64_t(entries[d].flash_base) + entries[d].size};
        flash.start = std::min(flash.start, planned[d].start);
        flash.end = std::max(flash.end, planned[d].end);
    }
    std::vector<int> changed;
    for (int k = 0; k < count && table[k].name; ++k) {
        const UPDTPATCHINFO &e = table[k];
        if (UPDTIsFixedPartition(e.name) && e.adjust != 0) {
            // Fixed partitions keep their place and size: the blocks given to one never reach it.
            syslog(LOG_ERR, "%s(%d): the fixed partition [%s] cannot take %d more erase blocks", __func__, __LINE__,
                   e.name, e.adjust);
            return -1;
        }
        int d = FindEntry(e.name, entries, nEntries);
        if (d < 0) {
            syslog(LOG_ERR, "%s(%d): unknown partition name [%s]", __func__, __LINE__, e.name);
            return -1;
        }
        if (e.start == entries[d].flash_base && e.size == entries[d].size)
            continue;
        planned[d] = {e.start, uint64_t(e.start) + e.size};
        changed.push_back(d);
    }
    for (int d : changed) {
        const Range &r = planned[d];
        std::string name = UPDTEntryName(entries[d]);
        if (r.end == r.start) {
            syslog(LOG_ERR, "%s(%d): partition [%s] would have no erase block", __func__, __LINE__, name.c_str());
            return -1;
        }
        if (r.start < flash.start || r.end > flash.end) {
            syslog(LOG_ERR, "%s(%d): partition [%s] at 0x%08llX of 0x%08llX bytes leaves the flash", __func__,
                   __LINE__, name.c_str(), static_cast<unsigned long long>(r.start),
                   static_cast<unsigned long long>(r.end - r.start));
            return -1;
        }
        for (int o = 0; o < nEntries; ++o) {
            const Range &other = planned[o];
            if (o == d || other.end == other.start || r.end <= other.start || other.end <= r.start)
                continue;
            syslog(LOG_ERR, "%s(%d): partition [%s] at 0x%08llX of 0x%08llX bytes overlaps [%s]", __func__, __LINE__,
                   name.c_str(), static_cast<unsigned long long>(r.start),
                   static_cast<unsigned long long>(r.end - r.start), UPDTEntryName(entries[o]).c_str());
            return -1;
        }
    }
    return 0;
}
