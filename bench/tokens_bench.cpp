// Resolving a home-area token against the least any resolver must do: copy the
// home area and append the rest of the name.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hv_ext.h"
#include "ratio_report.h"

namespace {

constexpr const char *kToken = "~/sys/general.cfg";

void BM_GetActualFName(benchmark::State &state) {
    char buf[HV_EXT_PATH_MAX];
    const char *token = kToken;
    benchmark::DoNotOptimize(token);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ext_GetActualFName(token, buf));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GetActualFName);

void BM_StrcpyStrcat(benchmark::State &state) {
    char home[HV_EXT_PATH_MAX];
    ext_GetHomePath(home);
    char buf[HV_EXT_PATH_MAX];
    const char *rest = kToken + 1;
    benchmark::DoNotOptimize(rest);
    for (auto _ : state) {
        std::strcpy(buf, home);
        std::strcat(buf, rest);
        benchmark::DoNotOptimize(buf);
        benchmark::ClobberMemory();
    }
    char expected[HV_EXT_PATH_MAX];
    if (std::strcmp(buf, ext_GetActualFName(kToken, expected)) != 0)
        state.SkipWithError("the reference computes a different path");
}
BENCHMARK(BM_StrcpyStrcat);

constexpr hv::bench::Ratio kRatios[] = {
    {"BM_GetActualFName", "BM_StrcpyStrcat", "ext_GetActualFName / strcpy+strcat", 8},
};

}  // namespace

int main(int argc, char **argv) {
    if (!std::getenv("HV_DATADIR")) {
        std::fputs("tokens_bench: HV_DATADIR must name a home area (scripts/bench sets it)\n",
                   stderr);
        return 2;
    }
    return hv::bench::run_with_ratios(argc, argv, kRatios);
}
