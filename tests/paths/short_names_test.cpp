// Paths shortened back into tokens, base names and plain-name checks.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "hv_ext.h"

namespace {

struct Case {
    const char *name;
    int result;
    const char *out;
};

void expect_short(const Case &c) {
    char out[HV_EXT_PATH_MAX] = "garbage";
    EXPECT_EQ(ext_GetShortFName(c.name, out), c.result) << c.name;
    EXPECT_STREQ(out, c.out) << c.name;
}

TEST(ShortNames, HomeBeforeAlternativeByPlainPrefix) {
    ASSERT_EQ(mkdir("/srv/alt", 0755), 0);
    ASSERT_EQ(ext_SetAlternativeArea(1, "/srv/alt"), 1);
    const Case cases[] = {
        {"/srv/mail/sys/general.cfg", 1, "~/sys/general.cfg"},
        {"/srv/mail", 1, "~"},
        {"/srv/mailbox/x", 1, "~box/x"},
        {"/srv/alt/spool/x", 1, "@/spool/x"},
        {"/srv/alternative/x", 1, "@ernative/x"},
        {"/etc/passwd", 0, "/etc/passwd"},
        {"~/sys/x", 1, "~/sys/x"},
        {"@/x", 1, "@/x"},
        {"^/x", 1, "^/x"},
        {"~UAP/x", 0, "~UAP/x"},
        {"relative/x", 0, "relative/x"},
        {"", 0, ""},
    };
    for (const Case &c : cases) expect_short(c);
}

TEST(ShortNames, EmptyAlternativeSlotLeavesOtherPathsAlone) {
    for (const Case &c : {Case{"/srv/alt/spool/x", 0, "/srv/alt/spool/x"},
                          Case{"/etc/passwd", 0, "/etc/passwd"}})
        expect_short(c);
}

TEST(ShortNames, PathUnderBothAreasBecomesAHomeName) {
    ASSERT_EQ(mkdir("/srv/mail/alt", 0755), 0);
    ASSERT_EQ(ext_SetAlternativeArea(1, "/srv/mail/alt"), 1);
    expect_short({"/srv/mail/alt/x", 1, "~/alt/x"});
}

TEST(ShortNames, NamesTooLongForTheBufferGiveAnEmptyResult) {
    const std::string longest = "/srv/mail/" + std::string(245, 'x');
    const std::string too_long = longest + "x";
    expect_short({longest.c_str(), 1, ("~/" + std::string(245, 'x')).c_str()});
    expect_short({too_long.c_str(), 0, ""});
}

TEST(ShortNames, EmptyHomeAreaCannotOverflowTheResult) {
    setenv("HV_DATADIR", "", 1);
    const std::string longest(255, 'x');
    expect_short({longest.c_str(), 0, longest.c_str()});
    expect_short({"abc", 1, "~abc"});
}

TEST(BaseName, PointsIntoTheArgument) {
    char paths[][8] = {"a/b/c", "abc", "a/b/", "/"};
    const char *expected[] = {"c", "abc", "", ""};
    for (int i = 0; i < 4; ++i) {
        char *base = ext_BaseName(paths[i]);
        EXPECT_STREQ(base, expected[i]);
        EXPECT_GE(base, paths[i]);
        EXPECT_LE(base, paths[i] + sizeof paths[i]);
    }
    EXPECT_EQ(ext_BaseName(paths[1]), paths[1]);
}

TEST(CheckFileName, AsciiLettersAndDigitsOnly) {
    for (const char *good : {"abc123", "ABC", "", "Z9"}) EXPECT_EQ(ext_CheckFileName(good), 1) << good;
    for (const char *bad : {"a_b", "a-b", "a.b", "a b", "a/b", "caf\xc3\xa9", "\x80", "@", "[", "`", "{"})
        EXPECT_EQ(ext_CheckFileName(bad), 0) << bad;
}

}  // namespace
