// The local offset from UTC, and the broken-down-time conversion it rests on.
// The offset is kept for an hour, so that callers that ask on every message do
// not pay for a local-time conversion each time.

#include <atomic>
#include <cstdint>
#include <ctime>

#include "hv_ext.h"
#include "sxl.h"

namespace hv::time {
namespace {

constexpr std::int32_t kDaysTo1970 = 70 * 365;
constexpr std::int32_t kKeepSeconds = 3599;

// The suite's 32-bit arithmetic: out-of-range fields wrap instead of overflowing
// (which would be undefined in C++).
std::int32_t add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
std::int32_t mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// Both 0 until the first computation. The offset is stored before the time it was
// computed at, so a reader that sees the time sees its offset; two threads that
// recompute at once store the same pair.
constinit std::atomic<std::int32_t> g_computed_at{0};
constinit std::atomic<std::int32_t> g_offset{0};

}  // namespace
}  // namespace hv::time

using namespace hv::time;

extern "C" int ext_TmConv(const struct tm *tm) noexcept {
    if (tm == nullptr) return 0;
    // Every fourth year from 1972 counts as a leap year, with no century rule. The
    // division truncates toward zero, so the count is right from 1969 on, to the
    // end of a 32-bit time_t.
    const std::int32_t leap_days = sub(tm->tm_year, 69) / 4;
    const std::int32_t days =
        add(sub(add(mul(365, tm->tm_year), leap_days), kDaysTo1970), tm->tm_yday);
    const std::int32_t hours = add(mul(days, 24), tm->tm_hour);
    const std::int32_t minutes = add(mul(hours, 60), tm->tm_min);
    return add(mul(minutes, 60), tm->tm_sec);
}

extern "C" int ext_TimeDiff(void) noexcept {
    const time_t now = sxl_time(nullptr);
    // The cache holds 32-bit times, as on the suite's 32-bit platform.
    const auto now32 = static_cast<std::int32_t>(now);
    const std::int32_t computed_at = g_computed_at.load(std::memory_order_acquire);
    // A clock that went backwards reuses the offset too.
    if (computed_at != 0 &&
        static_cast<std::int64_t>(now32) <= static_cast<std::int64_t>(computed_at) + kKeepSeconds)
        return g_offset.load(std::memory_order_relaxed);

    // localtime's result lives in storage the whole process shares, so threads
    // that recompute at once would convert into each other's record. tzset first,
    // as localtime does, so that a changed TZ still counts.
    ::tzset();
    struct tm local;
    if (::localtime_r(&now, &local) == nullptr) return 0;
    const std::int32_t offset = sub(now32, ext_TmConv(&local));
    g_offset.store(offset, std::memory_order_relaxed);
    g_computed_at.store(now32, std::memory_order_release);
    return offset;
}
