// ext_CRC16 against the bit-by-bit computation, over a megabyte and over the
// short records (1 to 16 bytes) that most callers checksum.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "../fuzz/reference/reference_text.h"
#include "hv_ext.h"
#include "ratio_report.h"

namespace {

constexpr int kLarge = 1 << 20;
constexpr int kShortest = 1;
constexpr int kLongestShort = 16;

// Over the megabyte, ext_CRC16 runs this many times per iteration: its ratio
// then reads against the target speed-up.
constexpr int kBatch = 10;

std::vector<unsigned char> random_bytes(int size) {
    std::mt19937 rng(1);
    std::vector<unsigned char> data(static_cast<std::size_t>(size));
    for (unsigned char &byte : data) byte = static_cast<unsigned char>(rng());
    return data;
}

// Called through a function of its own, as the library is.
[[gnu::noinline]] int reference_crc16(const unsigned char *data, int len) {
    return hv::reference::crc16(data, len);
}

template <bool kLibrary>
void large(benchmark::State &state) {
    const std::vector<unsigned char> data = random_bytes(kLarge);
    const unsigned char *bytes = data.data();
    int crc = 0;
    for (auto _ : state) {
        for (int i = 0; i < (kLibrary ? kBatch : 1); ++i) {
            benchmark::DoNotOptimize(bytes);
            crc = kLibrary ? ext_CRC16(bytes, kLarge) : reference_crc16(bytes, kLarge);
            benchmark::DoNotOptimize(crc);
        }
    }
    if (crc != hv::reference::crc16(bytes, kLarge))
        state.SkipWithError("ext_CRC16 and the reference disagree");
}

// One iteration checksums one record of each length from 1 to 16 bytes.
template <bool kLibrary>
void short_records(benchmark::State &state) {
    const std::vector<unsigned char> data = random_bytes(kLongestShort);
    const unsigned char *bytes = data.data();
    int sum = 0;
    for (auto _ : state) {
        for (int len = kShortest; len <= kLongestShort; ++len) {
            benchmark::DoNotOptimize(bytes);
            benchmark::DoNotOptimize(len);
            sum += kLibrary ? ext_CRC16(bytes, len) : reference_crc16(bytes, len);
        }
        benchmark::DoNotOptimize(sum);
    }
    for (int len = kShortest; len <= kLongestShort; ++len)
        if (ext_CRC16(bytes, len) != hv::reference::crc16(bytes, len))
            state.SkipWithError("ext_CRC16 and the reference disagree");
}

BENCHMARK(large<true>)->Name("crc16_x10/1MiB")->Unit(benchmark::kMillisecond);
BENCHMARK(large<false>)->Name("bitwise/1MiB")->Unit(benchmark::kMillisecond);
BENCHMARK(short_records<true>)->Name("crc16/1-16B");
BENCHMARK(short_records<false>)->Name("bitwise/1-16B");

constexpr hv::bench::Ratio kRatios[] = {
    {"crc16_x10/1MiB", "bitwise/1MiB", "10 x ext_CRC16 / bitwise, 1 MiB", 1},
    {"crc16/1-16B", "bitwise/1-16B", "ext_CRC16 / bitwise, 1 to 16 bytes", 1},
};

}  // namespace

int main(int argc, char **argv) { return hv::bench::run_with_ratios(argc, argv, kRatios); }
