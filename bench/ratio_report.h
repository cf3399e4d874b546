// A main for benchmark programs that compare a routine against a reference: runs
// the benchmarks as usual, then prints one line per pair,
//   "LABEL = N.Nx (target <= Tx)",
// the subject's time per iteration divided by the reference's.
#pragma once

#include <span>

namespace hv::bench {

struct Ratio {
    const char *subject;    // benchmark names as registered
    const char *reference;
    const char *label;
    double target;          // the most the subject may cost, in references
};

// Takes the usual Google Benchmark options. With repetitions, the median is used.
int run_with_ratios(int argc, char **argv, std::span<const Ratio> ratios);

}  // namespace hv::bench
