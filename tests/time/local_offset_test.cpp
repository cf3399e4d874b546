// The local offset from UTC: ext_TmConv against the C library's timegm over the
// range it must cover, ext_TimeDiff against the offsets the C library reports
// under several zones, and the hour for which an offset is kept.

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "hv_ext.h"
#include "seam.h"

// The library asks localtime() straight from the C library; the test programs
// are linked with their symbols exported, so this definition interposes that call.
namespace {
std::atomic<long> g_localtime_calls{0};
}

extern "C" struct tm *localtime(const time_t *t) noexcept {
    using Real = struct tm *(*)(const time_t *);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "localtime"));
    g_localtime_calls.fetch_add(1);
    return real(t);
}

namespace {

constexpr std::int64_t kFirst = -31536000;  // 1969-01-01 00:00:00
constexpr std::int64_t kLast = INT32_MAX;   // 2038-01-19 03:14:07

void use_zone(const char *zone) {
    setenv("TZ", zone, 1);
    tzset();
}

bool have_zone(const char *zone) {
    return zone[0] != ':' || access((std::string("/usr/share/zoneinfo/") + (zone + 1)).c_str(), R_OK) == 0;
}

struct tm utc(std::int64_t t) {
    const time_t value = static_cast<time_t>(t);
    struct tm tm {};
    gmtime_r(&value, &tm);
    return tm;
}

// What the C library says local time lies behind UTC at t.
int c_library_offset(std::int64_t t) {
    const time_t value = static_cast<time_t>(t);
    struct tm tm {};
    localtime_r(&value, &tm);
    return static_cast<int>(-tm.tm_gmtoff);
}

TEST(TmConv, KnownDates) {
    struct Row {
        int year, yday, hour, min, sec, expected;
    } rows[] = {
        {70, 0, 0, 0, 0, 0},
        {72, 0, 0, 0, 0, 63072000},
        {73, 0, 0, 0, 0, 94694400},
        {100, 59, 12, 0, 0, 951825600},
        {69, 0, 0, 0, 0, -31536000},
        {69, 364, 23, 59, 59, -1},
        {138, 18, 3, 14, 7, INT32_MAX},
        // Not normalised: fields out of their range count as they are.
        {70, 0, 0, 0, 86400, 86400},
        {70, 400, -1, 0, 0, 400 * 86400 - 3600},
        // Past the range the arithmetic stays 32-bit and wraps; a sanitizer build
        // stops at any signed overflow.
        {200, 0, 0, 0, 0, -192522496},
        {INT_MAX, 0, 0, 0, 0, 2054356096},
        {INT_MIN, 0, 0, 0, 0, 2085892096},
        {0, INT_MAX, INT_MAX, INT_MAX, INT_MAX, -61595213},
    };
    for (const Row &r : rows) {
        struct tm tm {};
        tm.tm_year = r.year, tm.tm_yday = r.yday, tm.tm_hour = r.hour;
        tm.tm_min = r.min, tm.tm_sec = r.sec;
        EXPECT_EQ(ext_TmConv(&tm), r.expected) << r.year << " " << r.yday;
    }
    EXPECT_EQ(ext_TmConv(nullptr), 0);
}

// Every leap-year boundary, and a stride through every time of day, from 1969 to
// the end of a 32-bit time_t. Fields the conversion must not read are scribbled.
TEST(TmConv, AgreesWithTimegmOverTheWholeRange) {
    std::vector<std::int64_t> instants = {kFirst, kLast, 0, -1};
    for (int year = 69; year <= 137; ++year) {
        for (int mon : {0, 1, 2, 11}) {
            struct tm tm {};
            tm.tm_year = year, tm.tm_mon = mon, tm.tm_mday = mon == 1 ? 29 : 1;
            const std::int64_t start = timegm(&tm);
            for (std::int64_t delta : {-1, 0, 1, 43200, 86399})
                if (start + delta >= kFirst) instants.push_back(start + delta);
        }
    }
    for (std::int64_t t = kFirst; t <= kLast - 104729; t += 104729) instants.push_back(t);

    int failures = 0;
    for (std::int64_t t : instants) {
        struct tm tm = utc(t);
        tm.tm_mon = 77, tm.tm_mday = -5, tm.tm_wday = 9, tm.tm_isdst = 3;
        if (ext_TmConv(&tm) != t && ++failures < 10) ADD_FAILURE() << "at " << t;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GT(instants.size(), 20000u);
}

// One process per zone: the cache cannot be cleared.
struct Zone {
    const char *label;
    const char *tz;
};

void PrintTo(const Zone &zone, std::ostream *os) { *os << zone.label; }

class TimeDiffInZone : public testing::TestWithParam<Zone> {};

// Hourly through two years (each call at least an hour after the last, so each
// recomputes), which meets every daylight-saving change there, and a day in
// each season of every year of the range.
TEST_P(TimeDiffInZone, MatchesTheCLibrary) {
    if (!have_zone(GetParam().tz)) GTEST_SKIP() << "no zone data for " << GetParam().tz;
    use_zone(GetParam().tz);
    std::vector<std::int64_t> instants;
    // From a day into 1969: west of Greenwich, its first hours are still 1968 locally.
    for (std::int64_t t = kFirst + 86400; t < kLast; t += 91 * 86400 + 7 * 3600 + 123)
        instants.push_back(t);
    for (std::int64_t start : {946684800LL + 1234, 1704067200LL + 600})  // 2000, 2024
        for (std::int64_t t = start; t < start + 366 * 86400; t += 3600) instants.push_back(t);
    std::sort(instants.begin(), instants.end());
    std::vector<std::int64_t> apart;
    for (std::int64_t t : instants)
        if (apart.empty() || t >= apart.back() + 3600) apart.push_back(t);
    instants.swap(apart);

    int failures = 0;
    long recomputed = 0;
    for (std::int64_t t : instants) {
        hv::test::set_time(t);
        const long before = g_localtime_calls.load();
        const int got = ext_TimeDiff();
        recomputed += g_localtime_calls.load() - before;
        if (got != c_library_offset(t) && ++failures < 10)
            ADD_FAILURE() << "at " << t << ": " << got << " != " << c_library_offset(t);
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(recomputed, static_cast<long>(instants.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Zones, TimeDiffInZone,
    testing::Values(Zone{"Utc", "UTC0"}, Zone{"PlusTwo", "XST-2"},
                    Zone{"Paris", ":Europe/Paris"}, Zone{"NewYork", ":America/New_York"},
                    Zone{"Kolkata", ":Asia/Kolkata"}, Zone{"LordHowe", ":Australia/Lord_Howe"}),
    [](const auto &row) { return std::string(row.param.label); });

// In Paris, summer time begins at 2024-03-31 01:00:00 UTC. An offset computed a
// second before is kept for 3,599 more seconds, whatever the clock does.
TEST(TimeDiff, KeepsAnOffsetFor3600Seconds) {
    if (!have_zone(":Europe/Paris")) GTEST_SKIP() << "no zone data for Europe/Paris";
    use_zone(":Europe/Paris");
    constexpr std::int64_t kComputed = 1711846800 - 1;
    struct Step {
        std::int64_t now;
        int offset;
        bool computes;
    } steps[] = {
        {kComputed, -3600, true},
        {kComputed + 1, -3600, false},
        {kComputed + 3599, -3600, false},       // summer time already, still kept
        {kComputed - 400000000, -3600, false},  // a clock gone back reuses it too
        {kComputed + 3600, -7200, true},
        {kComputed + 3601, -7200, false},
        {kComputed + 7199, -7200, false},
        {kComputed + 7200, -7200, true},
    };
    for (const Step &s : steps) {
        hv::test::set_time(s.now);
        const long before = g_localtime_calls.load();
        EXPECT_EQ(ext_TimeDiff(), s.offset) << s.now;
        EXPECT_EQ(g_localtime_calls.load() - before, s.computes ? 1 : 0) << s.now;
    }
}

// A computation at the epoch itself leaves the cache looking empty.
TEST(TimeDiff, AnOffsetComputedAtTheEpochIsNotKept) {
    use_zone("XST-2");
    hv::test::set_time(0);
    const long before = g_localtime_calls.load();
    EXPECT_EQ(ext_TimeDiff(), -7200);
    EXPECT_EQ(ext_TimeDiff(), -7200);
    EXPECT_EQ(g_localtime_calls.load() - before, 2);
}

TEST(TimeDiff, ATimeTheCLibraryCannotConvertGivesZeroAndKeepsNothing) {
    if (sizeof(time_t) < 8) GTEST_SKIP() << "every 32-bit time converts";
    use_zone("XST-2");
    hv::test::set_time(1000000);
    EXPECT_EQ(ext_TimeDiff(), -7200);
    hv::test::set_time((1LL << 62) + 0x7fff0000);  // its low 32 bits: far ahead
    EXPECT_EQ(ext_TimeDiff(), 0);
    hv::test::set_time(1000000 + 3599);
    const long before = g_localtime_calls.load();
    EXPECT_EQ(ext_TimeDiff(), -7200);
    EXPECT_EQ(g_localtime_calls.load() - before, 0);
}

}  // namespace
