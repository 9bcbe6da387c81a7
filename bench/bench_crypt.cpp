// The string cipher costs one crypt and the table set-up per call, then three look-ups per byte;
// the NT hash one MD4 block or two. Neither touches a file.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "korv/crypt.h"
#include "korv/encoding.h"

namespace {

void BM_StrCrypt(benchmark::State &state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'p');
    std::vector<unsigned char> out(text.size() + 1);
    for (auto _ : state) {
        KORVStrCrypt(text.c_str(), out.data(), static_cast<int>(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_StrCrypt)->Arg(8)->Arg(768)->Arg(65536);

void BM_SmbMd4Hash(benchmark::State &state)
{
    const std::string password(static_cast<size_t>(state.range(0)), 'p');
    unsigned char out[KORL_SMB_HASH_SIZE];
    for (auto _ : state) {
        KORLEncodingSmbMd4Hash(password.c_str(), out, sizeof out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_SmbMd4Hash)->Arg(8)->Arg(127);

}  // namespace
