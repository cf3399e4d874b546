// ext_FindBits against the byte-by-byte search, on maps that are full except near
// their end: the case where a search spends its time passing over used units.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "../fuzz/reference/reference_bit_maps.h"
#include "hv_ext.h"
#include "ratio_report.h"

namespace {

constexpr int kLargeMap = 1 << 20;

// All 0xFF but for a free stretch at the end: half a byte, then free bytes.
std::vector<unsigned char> full_but_the_end(int size) {
    std::vector<unsigned char> map(static_cast<std::size_t>(size), 0xFF);
    const int free = size <= 4 ? 1 : size <= 16 ? 3 : 8;
    map[static_cast<std::size_t>(size - free)] = 0x0F;
    std::fill(map.end() - free + 1, map.end(), 0);
    return map;
}

// The reference is called through a pointer, as the library's routine is called
// through the dynamic linker's table, rather than inlined into the loop and
// specialised for the benchmark's constants.
int reference_find(unsigned char *map, int size, int nbits, int skip, bool word_skip) {
    return hv::reference::find_bits(map, size, nbits, skip, word_skip);
}
int (*volatile g_reference_find)(unsigned char *, int, int, int, bool) = reference_find;

template <bool kLibrary, bool kWordSkip = false>
void find(benchmark::State &state) {
    int size = static_cast<int>(state.range(0));
    int nbits = static_cast<int>(state.range(1));
    std::vector<unsigned char> map = full_but_the_end(size);
    unsigned char *data = map.data();
    int found = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(data);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(nbits);
        found = kLibrary ? ext_FindBits(data, size, nbits, 0)
                         : g_reference_find(data, size, nbits, 0, kWordSkip);
        benchmark::DoNotOptimize(found);
    }
    if (found != hv::reference::find_bits(data, size, nbits, 0))
        state.SkipWithError("ext_FindBits and the reference disagree");
}

void sizes_and_runs(benchmark::internal::Benchmark *b) {
    for (int size : {kLargeMap, 1, 4, 16})
        for (int nbits : {1, 5, 16}) b->Args({size, nbits});
}

BENCHMARK(find<true>)->Name("BM_FindBits")->Apply(sizes_and_runs);
BENCHMARK(find<false>)->Name("BM_Reference")->Apply(sizes_and_runs);
BENCHMARK(find<false, true>)
    ->Name("BM_ReferenceWordSkip")
    ->Args({kLargeMap, 1})
    ->Args({kLargeMap, 5})
    ->Args({kLargeMap, 16});

#define HV_PAIR(size, nbits, label, target) \
    {"BM_FindBits/" #size "/" #nbits, "BM_Reference/" #size "/" #nbits, label, target}

constexpr hv::bench::Ratio kRatios[] = {
    HV_PAIR(1048576, 1, "FindBits 1 MiB, 1 bit / byte-by-byte", 0.1),
    HV_PAIR(1048576, 5, "FindBits 1 MiB, 5 bits / byte-by-byte", 0.1),
    HV_PAIR(1048576, 16, "FindBits 1 MiB, 16 bits / byte-by-byte", 0.1),
    {"BM_FindBits/1048576/1", "BM_ReferenceWordSkip/1048576/1",
     "FindBits 1 MiB, 1 bit / 32-bit word skip", 1},
    {"BM_FindBits/1048576/5", "BM_ReferenceWordSkip/1048576/5",
     "FindBits 1 MiB, 5 bits / 32-bit word skip", 1},
    {"BM_FindBits/1048576/16", "BM_ReferenceWordSkip/1048576/16",
     "FindBits 1 MiB, 16 bits / 32-bit word skip", 1},
    HV_PAIR(1, 1, "FindBits 1 byte, 1 bit / byte-by-byte", 1),
    HV_PAIR(1, 5, "FindBits 1 byte, 5 bits / byte-by-byte", 1),
    HV_PAIR(1, 16, "FindBits 1 byte, 16 bits / byte-by-byte", 1),
    HV_PAIR(4, 1, "FindBits 4 bytes, 1 bit / byte-by-byte", 1),
    HV_PAIR(4, 5, "FindBits 4 bytes, 5 bits / byte-by-byte", 1),
    HV_PAIR(4, 16, "FindBits 4 bytes, 16 bits / byte-by-byte", 1),
    HV_PAIR(16, 1, "FindBits 16 bytes, 1 bit / byte-by-byte", 1),
    HV_PAIR(16, 5, "FindBits 16 bytes, 5 bits / byte-by-byte", 1),
    HV_PAIR(16, 16, "FindBits 16 bytes, 16 bits / byte-by-byte", 1),
};

}  // namespace

int main(int argc, char **argv) { return hv::bench::run_with_ratios(argc, argv, kRatios); }
