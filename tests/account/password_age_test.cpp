// Password ageing: the text's rules against a table of texts and weeks, then the
// whole road through the platform call layer, which builds the text from a
// shadow entry written into the sandbox's /etc/shadow.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "../../src/account/password_age.h"
#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::account::kSecondsPerWeek;
using hv::account::password_aged;

struct TextCase {
    const char *text;
    long long week;  // the current week
    bool aged;
};

TEST(PasswordAgeText, LengthThenWeekDecide) {
    const TextCase cases[] = {
        {"a", 0, true},        {"zz", 0, true},        {"", 5000, false},
        {"ab.", 5000, false},  {"ab...", 5000, false}, {"ab..", 0, false},
        {"ab..", 1, true},     {"zz//", 65, false},    {"..//", 66, true},
        {"..9.", 11, false},   {"..9.", 12, true},     {"..A.", 12, false},
        {"..Z.", 37, false},   {"..a.", 38, false},    {"..z.", 63, false},
        {"..z.", 64, true},    {"..0/", 66, false},    {"..zz", 4095, false},
        {"..zz", 4096, true},  {"..!.", 1, true},      {"..!~", 1, true},
        {"..\xff.", 1, true},  {"..\x80z", 4033, true},
    };
    for (const TextCase &c : cases) {
        EXPECT_EQ(password_aged(c.text, [&c] { return c.week; }), c.aged)
            << '"' << c.text << "\" in week " << c.week;
    }
}

// A shadow entry for the account "aging": last change on day `changed`, with a
// maximum age (empty: none, and the layer gives no text).
void shadow_entry(long changed, const char *max = "99999") {
    std::ofstream("/etc/shadow", std::ios::app)
        << "aging:!:" << changed << ":0:" << max << ":7:::\n";
}

struct RoadCase {
    long changed;       // day of the last change
    long long now;      // seconds since the epoch
    int aged;
};

TEST(PasswordAge, WeekOfTheLastChangeAgainstTheClock) {
    const RoadCase cases[] = {
        {0, kSecondsPerWeek - 1, 0},
        {0, kSecondsPerWeek, 1},
        {700, 100 * kSecondsPerWeek, 0},          // week 100 itself
        {706, 101 * kSecondsPerWeek - 1, 0},      // day 706 is still week 100
        {706, 101 * kSecondsPerWeek, 1},
        {19000, 2714 * kSecondsPerWeek + 5, 0},   // 2714 = 26 + 64 * 42: two digits
        {19000, 2715 * kSecondsPerWeek, 1},
    };
    for (const RoadCase &c : cases) {
        hv::test::write_file("/etc/shadow", "");
        shadow_entry(c.changed);
        hv::test::set_time(c.now);
        EXPECT_EQ(ext_IsPasswordAged("aging"), c.aged) << "day " << c.changed << ", time " << c.now;
    }
}

TEST(PasswordAge, NoTextIsNotAged) {
    hv::test::write_file("/etc/shadow", "");
    shadow_entry(0, "");
    hv::test::set_time(1000 * kSecondsPerWeek);
    EXPECT_EQ(ext_IsPasswordAged("aging"), 0);
    EXPECT_EQ(ext_IsPasswordAged("nobody-here"), 0);
    EXPECT_EQ(hv::test::calls("sxl_getpwdage"), 2);
    EXPECT_EQ(ext_IsPasswordAged(nullptr), 0);
    EXPECT_EQ(hv::test::calls("sxl_getpwdage"), 2);
}

}  // namespace
