// Time and locale: the local offset from UTC and the conversion it rests on, the
// system zone as the first call of a process finds it, and the null arguments that
// the fuzz targets do not pass.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>
#include <tuple>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using namespace std::string_literals;

// Every fourth year from 1972 is a leap year; fields are taken as they are, month and
// flags not read; past 2038 the sum wraps (a sanitizer build stops at signed overflow).
TEST(LocalOffset, TmConvCountsSecondsAsUtc) {
    const std::tuple<int, int, int, int, int, int> rows[] = {  // year, yday, h, m, s; result
        {70, 0, 0, 0, 0, 0}, {72, 0, 0, 0, 0, 63072000}, {73, 0, 0, 0, 0, 94694400},
        {100, 59, 12, 0, 0, 951825600}, {69, 0, 0, 0, 0, -31536000}, {69, 364, 23, 59, 59, -1},
        {138, 18, 3, 14, 7, INT32_MAX}, {70, 0, 0, 0, 86400, 86400}, {200, 0, 0, 0, 0, -192522496},
        {70, 400, -1, 0, 0, 400 * 86400 - 3600}, {INT_MAX, 0, 0, 0, 0, 2054356096},
        {INT_MIN, 0, 0, 0, 0, 2085892096}, {0, INT_MAX, INT_MAX, INT_MAX, INT_MAX, -61595213}};
    for (const auto &[year, yday, hour, min, sec, expected] : rows) {
        struct tm tm {};
        tm.tm_year = year, tm.tm_yday = yday, tm.tm_hour = hour, tm.tm_min = min, tm.tm_sec = sec;
        tm.tm_mon = 77, tm.tm_mday = -5, tm.tm_wday = 9, tm.tm_isdst = 3;
        EXPECT_EQ(ext_TmConv(&tm), expected) << year << " " << yday;
    }
    EXPECT_EQ(ext_TmConv(nullptr), 0);
}

// Kept 3,600 seconds, and by a clock gone back, as a change of zone in between shows;
// one computed at the epoch looks like none; a time localtime() cannot take gives 0.
TEST(LocalOffset, TimeDiffIsKeptForAnHour) {
    constexpr long long kAt = 1000000;
    const std::tuple<long long, const char *, int> steps[] = {  // now, TZ, result
        {0, "XST-2", -7200}, {1, "UTC0", 0}, {kAt, "EST5", 18000}, {kAt + 3599, "XST-2", 18000},
        {kAt - 400000000, "UTC0", 18000}, {kAt + 3600, "XST-2", -7200}, {kAt + 7199, "UTC0", -7200},
        {kAt + 7200, "UTC0", 0}, {(1LL << 62) + 0x7fff0000, "UTC0", 0}};
    for (const auto &[now, zone, expected] : steps) {
        setenv("TZ", zone, 1);  // localtime() reads it again
        hv::test::set_time(now);
        EXPECT_EQ(ext_TimeDiff(), expected) << now << " " << zone;
    }
}

// One process per row, as a name found is kept: site setting (null: none), /etc/timezone,
// name. A NUL ends what a read brought.
const std::tuple<const char *, std::string, std::string> kZones[] = {
    {nullptr, "\0Europe\nAsia\0/Tokyo\n"s, "Asia"},
    {"America/Chicago", "Europe/Paris\n", "America/Chicago"},
    {"", "Europe/Paris\n", ""}};

class SystemZone : public testing::TestWithParam<int> {};

TEST_P(SystemZone, IsTheSiteSettingOrTheFirstUsableLine) {
    const auto &[site, file, expected] = kZones[GetParam()];
    if (site) setenv("HV_SITE_TIMEZONE_NAME", site, 1);
    hv::test::write_file("/etc/timezone", file);
    const char *name = ext_GetSystemTimezoneName();
    EXPECT_EQ(name ? name : "(null)", expected);
    EXPECT_EQ(ext_GetSystemTimezoneName(), name);
    EXPECT_EQ(hv::test::calls("sxl_fopen"), site ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(ZoneNames, SystemZone, testing::Range(0, 3));

TEST(Locale, NullArgumentsGiveNoResult) {
    EXPECT_EQ(ext_GetTZIDFromAlias("GMT", nullptr), 0);
    EXPECT_EQ(ext_langtojlang(nullptr), nullptr);
    EXPECT_EQ(ext_langtolandt(nullptr), nullptr);
    EXPECT_EQ(ext_BuildCatDir(nullptr, "mail"), nullptr);
    EXPECT_EQ(ext_BuildCatDir("english/us", nullptr), nullptr);
}

}  // namespace
