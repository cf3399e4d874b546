// File-name tokens expanded against a known installation: home area /srv/mail,
// the default UAP area and alternative slot 1 at /srv/alt.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <ostream>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

constexpr char kUntouched[] = "untouched";

struct Case {
    const char *name;
    const char *expected;  // null: the name is refused and out is left as it was
};

class Tokens : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir("/srv/alt", 0755), 0);
        ASSERT_EQ(ext_SetAlternativeArea(1, "/srv/alt"), 1);
    }
    std::string resolve(const char *name, bool *refused) {
        char out[HV_EXT_PATH_MAX];
        std::strcpy(out, kUntouched);
        char *result = ext_GetActualFName(name, out);
        *refused = result == nullptr;
        if (result != nullptr) {
            EXPECT_EQ(result, out);
        }
        return out;
    }
};

TEST_F(Tokens, ExpandsEveryFormOfTheGrammar) {
    const Case cases[] = {
        {"~/sys/general.cfg", "/srv/mail/sys/general.cfg"},
        {"~/", "/srv/mail/"},
        {"~/bin", "/opt/morvek/bin"},
        {"~/bin/", "/opt/morvek/bin/"},
        {"~/bin/hvchown", "/opt/morvek/bin/hvchown"},
        {"~/binaries/x", "/srv/mail/binaries/x"},
        {"~/diag/x", "/opt/morvek/diag/x"},
        {"~/diag", "/opt/morvek/diag"},
        {"~/diagnostics", "/srv/mail/diagnostics"},
        {"~/newconfig", "/opt/morvek/newconfig"},
        {"~/newconfig/a", "/opt/morvek/newconfig/a"},
        {"~/newconfig.old", "/srv/mail/newconfig.old"},
        {"~/./../x//y", "/srv/mail/./../x//y"},
        {"~UAP", "/usr/UAP"},
        {"~UAP/in/x", "/usr/UAP/in/x"},
        {"~UAPX/x", nullptr},
        {"~", nullptr},
        {"~user/x", nullptr},
        {"~bin", nullptr},
        {"@/spool/x", "/srv/alt/spool/x"},
        {"@/", "/srv/alt/"},
        {"@spool", "@spool"},
        {"@", "@"},
        {"^/etc/x", "/opt/morvek/etc/x"},
        {"^/", "/opt/morvek/"},
        {"^etc", "^etc"},
        {"/etc/passwd", "/etc/passwd"},
        {"relative/name", "relative/name"},
        {"/usr/lib/sendmail.cf", "/usr/lib/sendmail.cf"},
        {"/usr/slib/sendmailer", "/usr/slib/sendmailer"},
        {"", ""},
    };
    for (const Case &c : cases) {
        bool refused = false;
        const std::string got = resolve(c.name, &refused);
        EXPECT_EQ(refused, c.expected == nullptr) << c.name;
        EXPECT_EQ(got, c.expected ? c.expected : kUntouched) << c.name;
    }
}

// Every branch refuses a result that would not fit 256 bytes, and writes nothing.
TEST_F(Tokens, RefusesResultsLongerThanAPathBuffer) {
    struct Limit {
        const char *prefix;
        std::size_t result_overhead;  // result length minus the filler's length
    } limits[] = {
        {"~/", 10},   // "/srv/mail/"
        {"~/bin/", 16},  // "/opt/morvek/bin/"
        {"~UAP/", 9},  // "/usr/UAP/"
        {"@/", 9},     // "/srv/alt/"
        {"^/", 12},    // "/opt/morvek/"
        {"/usr/lib/sendmail/", 19},
        {"/plain/", 7},
    };
    for (const Limit &l : limits) {
        for (std::size_t result_length : {255u, 256u, 1000u}) {
            const std::string name =
                l.prefix + std::string(result_length - l.result_overhead, 'x');
            bool refused = false;
            const std::string got = resolve(name.c_str(), &refused);
            if (result_length < HV_EXT_PATH_MAX) {
                EXPECT_FALSE(refused) << l.prefix << " " << result_length;
                EXPECT_EQ(got.size(), result_length) << l.prefix;
            } else {
                EXPECT_TRUE(refused) << l.prefix << " " << result_length;
                EXPECT_EQ(got, kUntouched) << l.prefix;
            }
        }
    }
    const std::string huge(100000, 'x');
    EXPECT_EQ(ext_GetActualFName(huge.c_str(), nullptr), nullptr);
    EXPECT_EQ(ext_FullFName(huge.c_str()), nullptr);
}

TEST_F(Tokens, ResolvesInPlace) {
    char buf[HV_EXT_PATH_MAX] = "^/etc/x";
    EXPECT_EQ(ext_GetActualFName(buf, buf), buf);
    EXPECT_STREQ(buf, "/opt/morvek/etc/x");
    std::strcpy(buf, "/var/spool/x");
    EXPECT_EQ(ext_GetActualFName(buf, buf), buf);
    EXPECT_STREQ(buf, "/var/spool/x");
}

TEST(TokensStatic, NullOutUsesOneSharedBufferAndFullFNameAnother) {
    char *first = ext_GetActualFName("^/a", nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "/opt/morvek/a");
    EXPECT_EQ(ext_GetActualFName("^/b", nullptr), first);
    EXPECT_STREQ(first, "/opt/morvek/b");

    char *full = ext_FullFName("~/c");
    ASSERT_NE(full, nullptr);
    EXPECT_NE(full, first);
    EXPECT_STREQ(full, "/srv/mail/c");
    EXPECT_STREQ(first, "/opt/morvek/b");
    EXPECT_EQ(ext_FullFName("~nobody"), nullptr);
    EXPECT_EQ(ext_GetActualFName(nullptr, nullptr), nullptr);
}

TEST(TokensAlternative, EmptySlotOneRefusesAtNames) {
    char out[HV_EXT_PATH_MAX];
    EXPECT_EQ(ext_GetActualFName("@/spool/x", out), nullptr);
}

// Which sendmail exists decides the result, whichever of the two names was spelled.
struct SendmailCase {
    const char *label;
    bool slib_exists, lib_exists;
    const char *name, *expected;
};

void PrintTo(const SendmailCase &row, std::ostream *os) { *os << row.label; }

class Sendmail : public testing::TestWithParam<SendmailCase> {};

TEST_P(Sendmail, PicksTheFirstThatExists) {
    HV_REQUIRE_WRITABLE_USR();
    const SendmailCase &c = GetParam();
    hv::test::remove_path("/usr/slib/sendmail");
    hv::test::remove_path("/usr/lib/sendmail");
    if (c.slib_exists) hv::test::write_file("/usr/slib/sendmail", "");
    if (c.lib_exists) hv::test::write_file("/usr/lib/sendmail", "");
    char out[HV_EXT_PATH_MAX];
    ASSERT_EQ(ext_GetActualFName(c.name, out), out);
    EXPECT_STREQ(out, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, Sendmail,
    testing::Values(
        SendmailCase{"OnlyLib", false, true, "/usr/lib/sendmail", "/usr/lib/sendmail"},
        SendmailCase{"Both", true, true, "/usr/lib/sendmail", "/usr/slib/sendmail"},
        SendmailCase{"Neither", false, false, "/usr/lib/sendmail", "/usr/slib/sendmail"},
        SendmailCase{"SlibNameOnlyLib", false, true, "/usr/slib/sendmail/x", "/usr/lib/sendmail/x"},
        SendmailCase{"LibNameOnlySlib", true, false, "/usr/lib/sendmail/", "/usr/slib/sendmail/"}),
    [](const auto &row) { return std::string(row.param.label); });

TEST(TokensSendmail, AsksThePlatformAfreshOnEveryCall) {
    char out[HV_EXT_PATH_MAX];
    const long before = hv::test::calls("sxl_stat");
    ext_GetActualFName("/usr/lib/sendmail", out);
    ext_GetActualFName("/usr/lib/sendmail", out);
    EXPECT_GE(hv::test::calls("sxl_stat") - before, 2);
}

}  // namespace
