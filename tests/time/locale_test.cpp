// The local offset and the conversion it rests on, an empty site zone, the null arguments the
// fuzz targets do not pass; then every routine under every failure of the platform (sweep.h).

#include <ctime>
#include <string_view>

#include "prelude.h"

namespace {

using hv::test::Outcome;
using namespace std::string_view_literals;

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

// An empty site setting is a setting all the same: it is kept, and the file is not read.
TEST(SystemZone, IsTheSiteSettingEvenWhenEmpty) {
    setenv("HV_SITE_TIMEZONE_NAME", "", 1);
    const char *name = ext_GetSystemTimezoneName();
    EXPECT_STREQ(name, "");
    EXPECT_EQ(ext_GetSystemTimezoneName(), name);
    EXPECT_EQ(hv::test::calls("sxl_fopen"), 0);
}

// A "." is a suffix only after the "_"; a directory over 40 characters or a catalogue path
// over 255 is refused, and the last result stays.
TEST(Locale, CodesCutExactlyOrNotAtAll) {
    const std::pair<const char *, const char *> dirs[] = {
        {"french_fr.ISO8859-1", "french/fr"}, {"fr.x_y_z.u", "fr.x/y_z"}, {nullptr, "english/us"}};
    for (const auto &[code, dir] : dirs) EXPECT_STREQ(ext_langtodir(code), dir) << dir;
    const std::string forty(40, 'l');
    const char *dir = ext_langtodir(forty.c_str());
    EXPECT_EQ(ext_langtodir((forty + "l").c_str()), nullptr);
    EXPECT_EQ(dir, forty);
    char jlang[] = "en_GB.UTF-8", landt[] = "fr.x_y.z", plain[] = "fr.x";
    EXPECT_STREQ(ext_langtojlang(jlang), "en");
    EXPECT_STREQ(ext_langtolandt(landt), "fr.x_y");
    EXPECT_STREQ(ext_langtolandt(plain), "fr.x");
    const std::string fits(218, 'm');
    const char *catalogues = ext_BuildCatDir("en", fits.c_str());
    EXPECT_EQ(ext_BuildCatDir("en", (fits + "m").c_str()), nullptr);
    EXPECT_EQ(catalogues, "/opt/morvek/server/locale/en/" + fits + "/msgcats");
    EXPECT_EQ(ext_langtojlang(nullptr), nullptr);
    EXPECT_EQ(ext_langtolandt(nullptr), nullptr);
    EXPECT_EQ(ext_BuildCatDir(nullptr, "mail"), nullptr);
    EXPECT_EQ(ext_BuildCatDir("en", nullptr), nullptr);
}

// An alias in any case and a space; the TZID ends at a space; the last line wins; a TZID over
// 79 characters on the alias's own line ends the search.
TEST(Locale, ZoneMapLines) {
    const std::string edge(79, 'e');
    hv::test::write_file("sys/TimeZoneMap", "GMT Europe/Paris\ngmtx Wrong/One\nLong " +
                                                std::string(80, 'l') + "\nLong Never/Read\nEdge " +
                                                edge +
                                                "\nTab Tab/Zone\tx y\nUtc   Etc/UTC x\ngmt Last\n");
    const std::tuple<const char *, int, std::string> rows[] = {
        {"gmt", 1, "Last"},         {"long", 0, "Europe/London"}, {"EDGE", 1, edge},
        {"tab", 1, "Tab/Zone\tx"},  {"UTC", 1, "Etc/UTC"},        {"", 0, "Europe/London"},
        {"gm", 0, "Europe/London"}, {nullptr, 0, "Europe/London"}};
    for (const auto &[alias, result, expected] : rows) {
        char tzid[80];
        EXPECT_EQ(ext_GetTZIDFromAlias(alias, tzid), result) << (alias ? alias : "(null)");
        EXPECT_EQ(tzid, expected) << (alias ? alias : "(null)");
    }
    EXPECT_EQ(ext_GetTZIDFromAlias("GMT", nullptr), 0);
}

const char *g_name = nullptr;
char g_tzid[80];

long utc_minus_local(std::time_t t) {
    struct tm local {};
    return localtime_r(&t, &local) != nullptr ? -local.tm_gmtoff : 0;
}

bool is_paris(const char *name) {
    return name != nullptr && std::strcmp(name, "Europe/Paris") == 0;
}

const hv::test::Case kCases[] = {
    // A clock that cannot be read gives the offset of time -1, which is not kept.
    {.label = "TimeDiff",
     .setup = [] { setenv("TZ", "XST-2", 1); },
     .run = [] { return long{ext_TimeDiff()}; },
     .check = [](long r, const Outcome &o) {
         const long now = utc_minus_local(std::time(nullptr));
         return r == (o.failed("sxl_time") ? utc_minus_local(-1) : now) && ext_TimeDiff() == now;
     }},
    // Nothing found is nothing kept: the next call asks both sources again. A read that
    // begins with a NUL is passed over, and a NUL ends what a read brought.
    {.label = "InstalledSystemTimezoneName",
     .setup =
         [] { hv::test::write_file("/etc/timezone", "\0Europe\n\"Europe/Paris\"\0/Tokyo\n"sv); },
     .run = [] { return long{(g_name = ext_GetSystemTimezoneName()) != nullptr}; },
     .check = [](long, const Outcome &o) {
         const bool unread = o.failed("sxl_fopen") || o.failed("sxl_fgets");
         return (unread ? g_name == nullptr : is_paris(g_name)) &&
                is_paris(ext_GetSystemTimezoneName()) &&
                hv::test::calls("tayl_GetString") == (unread ? 2 : 1);
     }},
    {.label = "TzidFromAlias",
     .setup = [] { hv::test::write_file("sys/TimeZoneMap", "GMT Europe/Paris\n"); },
     .run = [] { return long{ext_GetTZIDFromAlias("gmt", g_tzid)}; },
     .check = [](long r, const Outcome &o) {
         if (o.failed("sxl_fopen") || o.failed("sxl_fgets", 1))
             return r == 0 && std::strcmp(g_tzid, "Europe/London") == 0;
         return r == 1 && is_paris(g_tzid);
     }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
