// Time-zone names: the system zone from the site setting or /etc/timezone, cached
// once found, and TZIDs looked up by alias in ~/sys/TimeZoneMap.

#include <gtest/gtest.h>
#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::write_file;

constexpr char kZoneFile[] = "/etc/timezone";
constexpr char kMapFile[] = "/srv/mail/sys/TimeZoneMap";
constexpr char kSiteVariable[] = "HV_SITE_TIMEZONE_NAME";

int open_descriptors() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) count += fcntl(fd, F_GETFD) != -1;
    return count;
}

// One process per row: the name is kept for the process once it is found.
struct SystemZone {
    const char *label;
    const char *site;        // null: no site setting
    std::string file;        // the content of /etc/timezone
    bool file_exists;
    const char *expected;    // null: no name
    std::size_t expected_length;
};

SystemZone row(const char *label, std::string file, const char *expected,
               std::size_t expected_length = std::string::npos) {
    return {label, nullptr, std::move(file), true, expected,
            expected && expected_length == std::string::npos ? std::strlen(expected)
                                                             : expected_length};
}

void PrintTo(const SystemZone &zone, std::ostream *os) { *os << zone.label; }

class SystemTimezoneName : public testing::TestWithParam<SystemZone> {};

TEST_P(SystemTimezoneName, ReadsTheFirstUsableSourceOnce) {
    const SystemZone &c = GetParam();
    const int descriptors = open_descriptors();
    if (c.site) setenv(kSiteVariable, c.site, 1);
    if (c.file_exists) write_file(kZoneFile, c.file);
    else hv::test::remove_path(kZoneFile);

    const char *first = ext_GetSystemTimezoneName();
    if (c.expected == nullptr) {
        EXPECT_EQ(first, nullptr);
    } else {
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(std::string(first, std::strlen(first)), std::string(c.expected, c.expected_length));
    }
    EXPECT_EQ(hv::test::calls("sxl_fopen"), c.site ? 0 : 1);
    EXPECT_EQ(open_descriptors(), descriptors);

    // Found names are kept; while none is found, both sources are asked again.
    write_file(kZoneFile, "Europe/Rome\n");
    const char *second = ext_GetSystemTimezoneName();
    if (first != nullptr) {
        EXPECT_EQ(second, first);
    } else {
        ASSERT_NE(second, nullptr);
        EXPECT_STREQ(second, "Europe/Rome");
    }
    EXPECT_EQ(hv::test::calls("sxl_fopen"), (c.site ? 0 : 1) + (first ? 0 : 1));
    EXPECT_EQ(open_descriptors(), descriptors);
}

const std::string kLong(5000, 'z');

INSTANTIATE_TEST_SUITE_P(
    ZoneNames, SystemTimezoneName,
    testing::Values(
        row("CommentEmptyQuoted", "# zone\n\n\"Europe/Paris\"\n", "Europe/Paris"),
        row("LeadingSpace", " Europe/Paris\n", nullptr),
        SystemZone{"Missing", nullptr, "", false, nullptr, 0},
        SystemZone{"SiteSetting", "America/Chicago", "Europe/Paris\n", true, "America/Chicago", 15},
        SystemZone{"EmptySiteSetting", "", "Europe/Paris\n", true, "", 0},
        row("NoNewline", "Asia/Tokyo", "Asia/Tokyo"),
        row("OnlyTheFirstUsableLine", "Asia/Tokyo\nEurope/Paris\n", "Asia/Tokyo"),
        row("CarriageReturnStays", "Europe/Paris\r\n", "Europe/Paris\r"),
        row("TrailingSpacesStay", "Europe/Paris  \n", "Europe/Paris  "),
        row("OpeningQuoteOnly", "\"Europe/Paris\n", "Europe/Paris"),
        row("ClosingQuoteOnly", "Europe/Paris\"\n", "Europe/Paris\""),
        row("QuoteBeforeCarriageReturn", "\"Europe/Paris\"\r\n", "Europe/Paris\"\r"),
        row("OneQuoteEachEnd", "\"\"Europe\"\"\n", "\"Europe\""),
        row("QuoteAlone", "\"\n", ""),
        row("ControlAndHighFirstBytes", "\x80zone\n\xffx\n\x01y\n\tz\n\x7f/ok\n", "\x7f/ok"),
        row("BinaryInside", "Eu\x01ro\xe9pe\n", "Eu\x01ro\xe9pe"),
        row("NulEndsTheName", std::string("Europe\0/Paris\n", 14), "Europe"),
        row("NulFirst", std::string("\0Europe\nAsia/Tokyo\n", 19), "Asia/Tokyo"),
        row("LongLineGivesItsFirst1022", kLong + "\n", kLong.c_str(), 1022),
        row("OnlyIgnoredLines", "#x\n\n   \n\t\n", nullptr),
        row("Empty", "", nullptr)),
    [](const auto &row) { return std::string(row.param.label); });

TEST(ZoneNames, FailedReadsCloseTheFileAndAreRetried) {
    write_file(kZoneFile, "Europe/Paris\n");
    hv::test::script("sxl_fopen", {.err = EACCES});
    EXPECT_EQ(ext_GetSystemTimezoneName(), nullptr);
    hv::test::script("sxl_fgets", {.err = EIO});
    EXPECT_EQ(ext_GetSystemTimezoneName(), nullptr);
    EXPECT_STREQ(ext_GetSystemTimezoneName(), "Europe/Paris");
    EXPECT_EQ(hv::test::calls("sxl_fopen"), 3);
    EXPECT_EQ(hv::test::calls("sxl_fclose"), 2);
}

struct MapCase {
    const char *label;
    std::string map;
    const char *alias;
    int found;
    std::string tzid;
};

const std::string kTzid79 = "Zone/" + std::string(74, 'a');
const std::string kTzid80 = "Zone/" + std::string(75, 'b');

TEST(ZoneNames, AliasLookups) {
    const MapCase cases[] = {
        {"SpacesInAlias", "Eastern Standard Time   America/New_York   extra\n",
         "eastern standard time", 1, "America/New_York"},
        {"FirstWordOfAnAlias", "Eastern Standard Time America/New_York\n", "Eastern", 1,
         "Standard"},
        {"SpaceMustFollow", "GMT Europe/London\nGMT+1 Europe/Paris\n", "GMT", 1, "Europe/London"},
        {"LongerAlias", "GMT Europe/London\nGMT+1 Europe/Paris\n", "GMT+1", 1, "Europe/Paris"},
        {"LastMatchWins", "UTC Etc/UTC\nCET Europe/Paris\nutc Etc/Zulu\n", "UTC", 1, "Etc/Zulu"},
        {"CaseOfTheTzidKept", "gmt europe/paris\n", "GMT", 1, "europe/paris"},
        {"Tzid79", "Long " + kTzid79 + "\n", "Long", 1, kTzid79},
        {"Tzid80Alone", "Long " + kTzid80 + "\n", "Long", 0, "Europe/London"},
        {"Tzid80AfterAMatch", "Long Asia/Tokyo\nLong " + kTzid80 + "\n", "Long", 1, "Asia/Tokyo"},
        {"Tzid80StopsTheSearch", "Long " + kTzid80 + "\nLong Asia/Tokyo\n", "Long", 0,
         "Europe/London"},
        {"Tzid80OfAnotherAlias", "Other " + kTzid80 + "\nLong Asia/Tokyo\n", "Long", 1,
         "Asia/Tokyo"},
        {"OnlySpacesAfterAlias", "GMT    \n", "GMT", 1, ""},
        {"AliasEndsTheLine", "GMT\n", "GMT", 0, "Europe/London"},
        {"TabIsNoSeparator", "GMT\tEurope/Paris\n", "GMT", 0, "Europe/London"},
        {"TabInsideTheTzid", "GMT Europe/Paris\tx y\n", "GMT", 1, "Europe/Paris\tx"},
        {"CarriageReturnInTzid", "GMT Europe/Paris\r\n", "GMT", 1, "Europe/Paris\r"},
        {"IgnoredLines",
         "# GMT Europe/Paris\n GMT Europe/Paris\n     \n\tGMT x\n\xc7MT x\n\nX Y\n", "GMT", 0,
         "Europe/London"},
        {"BinaryTzid", "GMT Eu\xffro\x01pe\n", "GMT", 1, "Eu\xffro\x01pe"},
        {"NulInsideLine", std::string("GMT\0 Europe/Paris\n", 18), "GMT", 0, "Europe/London"},
        {"PiecesOfALongLineAreLines", std::string(1022, 'a') + "GMT Europe/Rome\n", "GMT", 1,
         "Europe/Rome"},
        {"FiveThousandCharacterTzid", "GMT " + std::string(5000, 'x') + "\nGMT Asia/Tokyo\n",
         "GMT", 0, "Europe/London"},
        {"EmptyAlias", "GMT Europe/Paris\n", "", 0, "Europe/London"},
        {"NoMatch", "GMT Europe/Paris\n", "PST", 0, "Europe/London"},
        {"EmptyMap", "", "GMT", 0, "Europe/London"},
        {"NullAlias", "GMT Europe/Paris\n", nullptr, 0, "Europe/London"},
    };
    const int descriptors = open_descriptors();
    for (const MapCase &c : cases) {
        write_file(kMapFile, c.map);
        char tzid[80];
        std::memset(tzid, '?', sizeof tzid);
        EXPECT_EQ(ext_GetTZIDFromAlias(c.alias, tzid), c.found) << c.label;
        ASSERT_NE(std::memchr(tzid, '\0', sizeof tzid), nullptr) << c.label;
        EXPECT_EQ(std::string(tzid), c.tzid) << c.label;
    }
    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_EQ(hv::test::calls("sxl_fopen"), hv::test::calls("sxl_fclose"));
}

TEST(ZoneNames, AliasLookupWithoutAMapGivesTheDefault) {
    char tzid[80] = "stale";
    EXPECT_EQ(ext_GetTZIDFromAlias("GMT", tzid), 0);
    EXPECT_STREQ(tzid, "Europe/London");
    write_file(kMapFile, "GMT Europe/Paris\n");
    hv::test::script("sxl_fopen", {.err = EMFILE});
    std::strcpy(tzid, "stale");
    EXPECT_EQ(ext_GetTZIDFromAlias("GMT", tzid), 0);
    EXPECT_STREQ(tzid, "Europe/London");
    EXPECT_EQ(ext_GetTZIDFromAlias("GMT", nullptr), 0);
    EXPECT_EQ(ext_GetTZIDFromAlias("GMT", tzid), 1);
    EXPECT_STREQ(tzid, "Europe/Paris");
}

}  // namespace
