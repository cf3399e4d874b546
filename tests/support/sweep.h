// The fault sweep: one routine run again and again, each time in a fresh process (the
// library's caches live per process, and the first call fills them) with the n-th platform
// call failing once, failing from then on, or moving half its bytes, for n = 1, 2, ...
// until the routine makes no n-th call. Every run must end with a result the routine
// documents, leave no new descriptor open and leak no heap; or, without a home area, end
// the process with status 98 and its message.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "seam.h"

namespace hv::test {

struct Outcome {
    Nth mode;
    NthHit fault;
    // Whether the fault failed (or cut short) some call; or a call of this name, the first
    // of them being its ordinal-th since arming when ordinal is not 0.
    bool failed() const { return fault.call != nullptr; }
    bool failed(const char *call, long ordinal = 0) const;
};

struct Case {
    const char *label;                 // the test's name too
    std::function<void()> setup = {};  // unfaulted, before the descriptor snapshot
    std::function<long()> run;
    // Runs after the fault is disarmed: it may call the library to see what was left.
    std::function<bool(long result, const Outcome &)> check;
};

// Every failure of the case, one line each.
std::string sweep(const Case &c);

void PrintTo(const Case &c, std::ostream *os);

}  // namespace hv::test

// One test per row of a family's table of cases.
#define HV_FAULT_SWEEP(table)                                                                  \
    class FaultSweep : public testing::TestWithParam<::hv::test::Case> {};                     \
    TEST_P(FaultSweep, EndsOnlyAsDocumented) { EXPECT_EQ(::hv::test::sweep(GetParam()), ""); } \
    INSTANTIATE_TEST_SUITE_P(Each, FaultSweep, testing::ValuesIn(table),                       \
                             [](const auto &row) { return std::string(row.param.label); })
