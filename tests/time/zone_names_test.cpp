// Time zones: the local offset from UTC and the conversion it rests on, the system
// zone from the site setting or /etc/timezone, and TZIDs by alias from ~/sys/TimeZoneMap.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <tuple>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using namespace std::string_literals;
using hv::test::write_file;

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
// name. The line is cut at its newline and loses a leading quote, then one that ends it.
const std::tuple<const char *, std::string, std::string> kZones[] = {
    {nullptr, "# zone\n\n\"Europe/Paris\"\n", "Europe/Paris"},
    {"America/Chicago", "Europe/Paris\n", "America/Chicago"},
    {"", "Europe/Paris\n", ""},
    {nullptr, "Asia/Tokyo \r\nEurope/Paris\n", "Asia/Tokyo \r"},
    {nullptr, "\"Europe/Paris\n", "Europe/Paris"},
    {nullptr, "Europe/Paris\"\n", "Europe/Paris\""},
    {nullptr, "\x80zone\n\xffx\n\x01y\n\tz\n\x7f/ok\n", "\x7f/ok"},
    {nullptr, "\0Europe\nAsia\0/Tokyo\n"s, "Asia"},
    {nullptr, std::string(5000, 'z') + "\n", std::string(1022, 'z')}};

class SystemZone : public testing::TestWithParam<int> {};

TEST_P(SystemZone, IsTheSiteSettingOrTheFirstUsableLine) {
    const auto &[site, file, expected] = kZones[GetParam()];
    if (site) setenv("HV_SITE_TIMEZONE_NAME", site, 1);
    write_file("/etc/timezone", file);
    const char *name = ext_GetSystemTimezoneName();
    EXPECT_EQ(name ? name : "(null)", expected);
    EXPECT_EQ(ext_GetSystemTimezoneName(), name);
    EXPECT_EQ(hv::test::calls("sxl_fopen"), site ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(ZoneNames, SystemZone, testing::Range(0, 9));

// While no name is found, both sources are asked again at every call.
TEST(ZoneNames, NoNameIsAskedForAgain) {
    hv::test::remove_path("/etc/timezone");
    EXPECT_EQ(ext_GetSystemTimezoneName(), nullptr);
    write_file("/etc/timezone", " Europe/Paris\n#x\n\n\t\n");
    EXPECT_EQ(ext_GetSystemTimezoneName(), nullptr);
    write_file("/etc/timezone", "Europe/Rome\n");
    EXPECT_STREQ(ext_GetSystemTimezoneName(), "Europe/Rome");
    EXPECT_EQ(hv::test::calls("tayl_GetString"), 3);
}

// The last line that begins with the alias, in any case, and a space gives the TZID,
// the next word; a TZID longer than 79 characters ends the search.
TEST(ZoneNames, AliasLookups) {
    const std::string tzid79 = "Zone/" + std::string(74, 'a'), tzid80 = tzid79 + "b";
    const std::tuple<std::string, const char *, int, std::string> rows[] = {
        {"Eastern Std Time   America/New_York  x\n", "eastern std time", 1, "America/New_York"},
        {"GMT Europe/London\nGMT+1 Europe/Paris\n", "GMT", 1, "Europe/London"},
        {"UTC Etc/UTC\nCET Europe/Paris\nutc etc/zulu\n", "UTC", 1, "etc/zulu"},
        {"Long " + tzid79 + "\n", "Long", 1, tzid79},
        {"Long Asia/Tokyo\nLong " + tzid80 + "\nLong Asia/Seoul\n", "Long", 1, "Asia/Tokyo"},
        {"Long " + tzid80 + "\nLong Asia/Tokyo\n", "Long", 0, "Europe/London"},
        {"Other " + tzid80 + "\nLong Asia/Tokyo\n", "Long", 1, "Asia/Tokyo"},
        {"GMT    \n", "GMT", 1, ""},
        {"GMT\n", "GMT", 0, "Europe/London"},
        {"GMT Europe/Paris\tx y\r\n", "GMT", 1, "Europe/Paris\tx"},
        {std::string(1022, 'a') + "GMT Europe/Rome\r\n", "GMT", 1, "Europe/Rome\r"},
        {"GMT Europe/Paris\n", nullptr, 0, "Europe/London"},
        {"", "GMT", 0, "Europe/London"}};  // no map
    char tzid[80];
    EXPECT_EQ(ext_GetTZIDFromAlias("GMT", nullptr), 0);
    for (const auto &[map, alias, found, expected] : rows) {
        if (map.empty()) hv::test::remove_path("/srv/mail/sys/TimeZoneMap");
        else write_file("/srv/mail/sys/TimeZoneMap", map);
        std::memset(tzid, '?', sizeof tzid);
        EXPECT_EQ(ext_GetTZIDFromAlias(alias, tzid), found) << map;
        EXPECT_EQ(tzid, expected) << map;
    }
}

}  // namespace
