// The system account, the play-pen list (fuzz/play_pen_fuzz.cpp: its grammar), password ageing.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "../../src/account/password_age.h"
#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

// The sandbox's password database: root, and morvek with these ids (null: none).
void set_account(const char *ids) {
    const std::string morvek = ids ? std::string("morvek:x:") + ids + "::/srv/mail:/bin/sh\n" : "";
    hv::test::write_file("/etc/passwd", "root:x:0:0::/root:/bin/sh\n" + morvek);
}

TEST(AccountIds, NamesFixedIdsLookedUpUntilFoundThenKept) {
    char ord[7], hv[9];  // AddressSanitizer sees a byte written past either
    ext_GetOrdUserName(ord);
    ext_GetHvUserName(hv);
    EXPECT_EQ(std::string(ord, 7) + std::string(hv, 9), std::string("morvek\0halvorin", 16));
    set_account(nullptr);
    EXPECT_EQ(ext_GetOrdavinUid(), 0u);
    EXPECT_EQ(ext_SetUidToOrdavin(), EINVAL);
    EXPECT_EQ(ext_SetGidToOrdavin(), EINVAL);
    EXPECT_EQ(ext_IsSuperUser(4242), 0);
    set_account("4242:4343");  // a group id unlike the user id shows which is which
    EXPECT_EQ(ext_GetOrdavinGid(), 4343u);
    set_account(nullptr);
    EXPECT_EQ(ext_GetOrdavinUid(), 4242u);
    for (uid_t uid : {0u, 4241u, 4242u, 4343u, ~0u})
        EXPECT_EQ(ext_IsSuperUser(uid), uid == 0 || uid == 4242) << uid;
}

// The real group follows an effective group that is the account's: each row gives
// the result, the real group afterwards and the sxl_setregid calls.
TEST(AccountIdChange, RealGroupFromEachStartingPoint) {
    HV_REQUIRE_REAL_ROOT();
    const struct {
        const char *account;  // the morvek entry's uid:gid, null: none (counts as group 0)
        gid_t real, effective;
        std::vector<long> expected;
    } rows[] = {
        {nullptr, 1234, 0, {0, 0, 1}},  // first: the cache is filled only once found
        {"4242:4343", 0, 0, {0, 0, 0}},          {"4242:4343", 4343, 7, {0, 4343, 0}},
        {"4242:4343", 4343, 4343, {0, 4343, 0}},  // already aligned
    };
    for (const auto &row : rows) {
        set_account(row.account);
        ASSERT_EQ(setregid(row.real, row.effective), 0);
        const long before = hv::test::calls("sxl_setregid"), result = ext_SetRGidToOrdavin();
        const long calls = hv::test::calls("sxl_setregid") - before;
        EXPECT_EQ((std::vector<long>{result, long(getgid()), calls}), row.expected)
            << "row " << &row - rows;
    }
}

constexpr char kList[] = "/opt/morvek/bin/hvpp.allow";

// Read once per process, so each row asks in a child (a death test). It reports its
// answer, again after the list was turned around, and its sxl_fopen and sxl_fclose calls.
TEST(PlayPen, FirstWordOfALineAllowsItsUserOrEveryoneForGood) {
    // getpwuid takes the first entry with the uid: ours is named alice.
    hv::test::write_file("/etc/passwd", "alice:x:" + std::to_string(getuid()) + ":0::/:/bin/sh\n");
    const struct {
        const char *list;
        const char *report;
    } rows[] = {
        {"# alice\n*\n", "^1 1 1 1$"},
        {"*x\n#alice\nalic\nalicex\nalice#\nAlice\n  bob alice\n", "^0 0 1 1$"},
    };
    for (const auto &row : rows) {
        hv::test::write_file(kList, row.list);
        const auto child = [] {
            const int first = ext_PlayPenAllowed();
            hv::test::write_file(kList, first ? "" : "*\n");
            std::fprintf(stderr, "%d %d %ld %ld", first, ext_PlayPenAllowed(),
                         hv::test::calls("sxl_fopen"), hv::test::calls("sxl_fclose"));
            _exit(0);
        };
        EXPECT_EXIT(child(), testing::ExitedWithCode(0), row.report) << "row " << &row - rows;
    }
}

TEST(PasswordAge, TextLengthThenWeekDecideAgainstTheClock) {
    const struct {
        const char *text;
        long long week;  // the current one
        bool aged;
    } rows[] = {
        {"a", 0, true},       {"zz", 0, true},      {"", 5000, false},     {"ab.", 5000, false},
        {"ab...", 5000, false}, {"ab..", 0, false},   {"ab..", 1, true},     {"zz//", 65, false},
        {"..//", 66, true},   {"..9.", 11, false},  {"..9.", 12, true},    {"..A.", 12, false},
        {"..Z.", 37, false},  {"..a.", 38, false},  {"..z.", 63, false},   {"..z.", 64, true},
        {"..0/", 66, false},  {"..zz", 4095, false}, {"..zz", 4096, true}, {"..!.", 1, true},
        {"..!~", 1, true},    {"..\xff.", 1, true}, {"..\x80z", 4033, true},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(hv::account::password_aged(row.text, [&row] { return row.week; }), row.aged)
            << '"' << row.text << "\" in week " << row.week;
    }
    // Through the layer, from /etc/shadow: day 19000 is in week 2714 = 26 + 64 * 42.
    hv::test::write_file("/etc/shadow", "aging:!:19000:0:99999:7:::\n");
    hv::test::set_time(2715 * hv::account::kSecondsPerWeek - 1);
    EXPECT_EQ(ext_IsPasswordAged("aging"), 0);
    hv::test::set_time(2715 * hv::account::kSecondsPerWeek);
    EXPECT_EQ(ext_IsPasswordAged("aging"), 1);
    EXPECT_EQ(ext_IsPasswordAged(nullptr), 0);
}

}  // namespace
