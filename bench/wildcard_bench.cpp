// ext_glob against glibc's fnmatch(pattern, string, 0) on everyday patterns, and
// against the recursive walk on patterns with many stars, where each "*" of the
// walk retries the rest of the pattern at every place in the string.
#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include <string>

#include "../fuzz/reference/reference_text.h"
#include "hv_ext.h"
#include "ratio_report.h"

namespace {

struct Case {
    std::string string;
    std::string pattern;
    bool hopeless = false;  // beyond the recursive walk: hours
};

std::string repeat(const char *piece, int times) {
    std::string out;
    while (times-- > 0) out += piece;
    return out;
}

const Case kConfig{"general.cfg", "*.cfg"};
const Case kUser{"user42x", "user[0-9]*"};
const Case kFourStars{"axxxxxxxxxxxxbyyyyyyyyyyyyczzzzzzzzzzzzd", "a*b*c*d"};
const Case kEightStars{std::string(40, 'a'), repeat("*a", 8) + "b"};
const Case kThirtyStars{std::string(100, 'a'), repeat("*a", 30) + "b", true};
// The same where no literal after a "*" lets the walk pass over the string.
const Case kThirtyClasses{std::string(100, 'a'), repeat("*[a]", 30) + "[b]", true};

[[gnu::noinline]] int reference_glob(const char *string, const char *pattern) {
    return hv::reference::glob(string, pattern, false);
}

void glob(benchmark::State &state, const Case *c) {
    const char *string = c->string.c_str();
    const char *pattern = c->pattern.c_str();
    int matched = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(string);
        benchmark::DoNotOptimize(pattern);
        matched = ext_glob(string, pattern);
        benchmark::DoNotOptimize(matched);
    }
    if (!c->hopeless && matched != reference_glob(string, pattern))
        state.SkipWithError("ext_glob and the recursive walk disagree");
}

void fnmatch_peer(benchmark::State &state, const Case *c) {
    const char *string = c->string.c_str();
    const char *pattern = c->pattern.c_str();
    int matched = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(string);
        benchmark::DoNotOptimize(pattern);
        matched = fnmatch(pattern, string, 0) == 0;
        benchmark::DoNotOptimize(matched);
    }
    if (matched != ext_glob(string, pattern)) state.SkipWithError("fnmatch reads this otherwise");
}

void recursive_walk(benchmark::State &state, const Case *c) {
    const char *string = c->string.c_str();
    const char *pattern = c->pattern.c_str();
    for (auto _ : state) {
        benchmark::DoNotOptimize(string);
        benchmark::DoNotOptimize(pattern);
        benchmark::DoNotOptimize(reference_glob(string, pattern));
    }
}

BENCHMARK_CAPTURE(glob, config, &kConfig);
BENCHMARK_CAPTURE(fnmatch_peer, config, &kConfig);
BENCHMARK_CAPTURE(glob, user, &kUser);
BENCHMARK_CAPTURE(fnmatch_peer, user, &kUser);
BENCHMARK_CAPTURE(glob, four_stars, &kFourStars);
BENCHMARK_CAPTURE(fnmatch_peer, four_stars, &kFourStars);
BENCHMARK_CAPTURE(glob, eight_stars, &kEightStars);
BENCHMARK_CAPTURE(recursive_walk, eight_stars, &kEightStars);
BENCHMARK_CAPTURE(glob, thirty_stars, &kThirtyStars)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(glob, thirty_classes, &kThirtyClasses)->Unit(benchmark::kMicrosecond);

constexpr hv::bench::Ratio kRatios[] = {
    {"glob/config", "fnmatch_peer/config", "ext_glob / fnmatch, *.cfg", 1},
    {"glob/user", "fnmatch_peer/user", "ext_glob / fnmatch, user[0-9]*", 1},
    {"glob/four_stars", "fnmatch_peer/four_stars", "ext_glob / fnmatch, a*b*c*d on 40", 1},
    {"glob/eight_stars", "recursive_walk/eight_stars",
     "ext_glob / recursive walk, 8 stars on 40", 0.001},
};

}  // namespace

int main(int argc, char **argv) { return hv::bench::run_with_ratios(argc, argv, kRatios); }
