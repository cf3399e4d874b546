#include "ratio_report.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace hv::bench {
namespace {

// Shows the runs as the console reporter does and keeps each benchmark's CPU
// time per iteration: the median of its repetitions if there were any, else the
// fastest run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colour only on a terminal, as the library's own default reporter does.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            const double time = run.GetAdjustedCPUTime();
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") medians_[name] = time;
            } else if (auto it = fastest_.find(name); it == fastest_.end() || time < it->second) {
                fastest_[name] = time;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Time per iteration in the benchmarks' common unit, or a negative value.
    double time_of(const std::string &name) const {
        if (auto it = medians_.find(name); it != medians_.end()) return it->second;
        if (auto it = fastest_.find(name); it != fastest_.end()) return it->second;
        return -1;
    }

private:
    std::map<std::string, double> medians_;
    std::map<std::string, double> fastest_;
};

}  // namespace

int run_with_ratios(int argc, char **argv, std::span<const Ratio> ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::puts("");
    for (const Ratio &ratio : ratios) {
        const double subject = reporter.time_of(ratio.subject);
        const double reference = reporter.time_of(ratio.reference);
        if (subject < 0 || reference <= 0) {
            std::printf("%s: not measured\n", ratio.label);
            continue;
        }
        const double factor = subject / reference;
        std::printf("%s = %.3gx (target <= %gx)%s\n", ratio.label, factor, ratio.target,
                    factor > ratio.target ? "  OVER TARGET" : "");
    }
    return 0;
}

}  // namespace hv::bench
