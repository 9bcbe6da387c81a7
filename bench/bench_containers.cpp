// The string list and hash keep their promised costs: appending and hashing are constant per
// item (a doubling now and then), sorted insertion is a bisection plus one move of the slots.
// Run: build/bin/korv-bench (these touch no file, so they need no device tree).
#include <stdio.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "korv/hash.h"
#include "korv/list.h"

namespace {

std::vector<std::string> names(int n)
{
    std::vector<std::string> out;
    out.reserve(n);
    unsigned x = 2463534242u;
    for (int i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        char buf[32];
        snprintf(buf, sizeof buf, "user%08x", x);
        out.emplace_back(buf);
    }
    return out;
}

void BM_ListPush(benchmark::State &state)
{
    const auto items = names(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        PKORLSZLIST list = PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE);
        for (const auto &s : items)
            KORLSzListPush(&list, s.c_str());
        benchmark::DoNotOptimize(list);
        KORLSzListFree(list);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListPush)->RangeMultiplier(4)->Range(64, 16384)->Complexity(benchmark::oN);

void BM_ListSortedInsert(benchmark::State &state, int mode)
{
    const auto items = names(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        PKORLSZLIST list = PslKORLSzListAlloc(KORL_SZLIST_MIN_SIZE);
        KORLSzListSort(list, mode);
        for (const auto &s : items)
            KORLSzListPush(&list, s.c_str());
        benchmark::DoNotOptimize(KORLSzListFind(list, items.front().c_str()));
        KORLSzListFree(list);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK_CAPTURE(BM_ListSortedInsert, bytes, KORL_SZLIST_SORT)->RangeMultiplier(4)->Range(64, 4096);
BENCHMARK_CAPTURE(BM_ListSortedInsert, caseless, KORL_SZLIST_CASESORT)->RangeMultiplier(4)->Range(64, 4096);

void BM_HashSetGet(benchmark::State &state)
{
    const auto keys = names(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        PKORLSZHASH hash = PshKORLSzHashAlloc(1024);
        for (const auto &k : keys)
            KORLSzHashSetValue(&hash, k.c_str(), "yes");
        for (const auto &k : keys)
            benchmark::DoNotOptimize(SzKORLSzHashGetValue(hash, k.c_str()));
        KORLSzHashFree(hash);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HashSetGet)->RangeMultiplier(4)->Range(64, 16384)->Complexity(benchmark::oN);

}  // namespace
