// The customise info store read from /srv/mail/sys/general.cfg: what each kind of
// line gives, the read-once lifecycle, and first lookups from several threads.

#include <gtest/gtest.h>

#include <latch>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using namespace std::string_literals;
using hv::test::calls;
using hv::test::write_file;

constexpr char kSettings[] = "/srv/mail/sys/general.cfg";

// The value of key; nullopt when the lookup says 0, which must leave *value alone.
std::optional<std::string> lookup(const std::string &key) {
    char untouched = 0;
    char *value = &untouched;
    if (ext_GetCustomiseInfo(key.c_str(), &value) == 0) {
        EXPECT_EQ(value, &untouched) << key;
        return std::nullopt;
    }
    return value;
}

struct Lookup {
    std::string key;
    std::optional<std::string> value;
};

struct Parse {
    const char *label;
    std::string content;
    std::vector<Lookup> lookups;
};

void PrintTo(const Parse &row, std::ostream *os) { *os << row.label; }

class Lines : public testing::TestWithParam<Parse> {};

TEST_P(Lines, GiveTheirKeysAndValues) {
    const Parse &row = GetParam();
    write_file(kSettings, row.content);
    for (const Lookup &l : row.lookups) EXPECT_EQ(lookup(l.key), l.value) << l.key;
    EXPECT_EQ(calls("sxl_fopen"), 1);
    EXPECT_EQ(calls("sxl_fclose"), 1);
}

const std::string k1020(1020, 'a');

INSTANTIATE_TEST_SUITE_P(
    Store, Lines,
    testing::Values(
        Parse{"LastDuplicateWins", "A=1\nB=x\nA=2\n", {{"A", "2"}, {"B", "x"}}},
        Parse{"UnderscoresInValuesOnly",
              "KEY=a_b_c\nMY_KEY=x_\n",
              {{"KEY", "a b c"}, {"MY_KEY", "x "}, {"MY KEY", {}}}},
        Parse{"EmptyValue", "KEY=\n", {{"KEY", ""}}},
        Parse{"NoKey", "=x\nnoequals\n", {{"", {}}, {"noequals", {}}, {"=x", {}}}},
        Parse{"FirstEqualsSplits", "KEY==x\nK2=a=b_c\n", {{"KEY", "=x"}, {"K2", "a=b c"}}},
        Parse{"BlanksKept", "KEY = x \n", {{"KEY ", " x "}, {"KEY", {}}}},
        Parse{"SkippedLines",
              "#A=1\n A=2\n\tA=3\n\n\x01"
              "A=4\n",
              {{"A", {}}, {"#A", {}}, {" A", {}}, {"\tA", {}}}},
        Parse{"CarriageReturnKept", "KEY=v\r\n", {{"KEY", "v\r"}}},
        Parse{"NoFinalNewline", "A=1\nB=2", {{"A", "1"}, {"B", "2"}}},
        Parse{"FirstByteSigned",
              "\x80K=1\n\xffK=2\n\x7fK=3\n!K=4\n",
              {{"\x80K", {}}, {"\xffK", {}}, {"\x7fK", "3"}, {"!K", "4"}}},
        Parse{"NulEndsTheLine",
              "A=1\0B=junk\n\0C=2\nD\0=3\nE=4\n"s,
              {{"A", "1"}, {"B", {}}, {"C", {}}, {"D", {}}, {"E", "4"}}},
        Parse{"CaseSensitiveKeys", "Key=1\n", {{"KEY", {}}, {"Key", "1"}}},
        Parse{"LineOf3000InPieces",
              "A=" + k1020 + "B=" + k1020 + "C=" + std::string(954, 'c') + "\n",
              {{"A", k1020}, {"B", k1020}, {"C", std::string(954, 'c')}}},
        Parse{"PieceParsedAlone", "K=" + k1020 + "X=y_z\n", {{"K", k1020}, {"X", "y z"}}},
        Parse{"LineOf1022", "K=" + k1020 + "\nL=1\n", {{"K", k1020}, {"L", "1"}}},
        Parse{"LineOf100000",
              "K=" + std::string(99998, 'x') + "\nL=1\n",
              {{"K", std::string(1020, 'x')}, {"L", "1"}}},
        Parse{"EmptyFile", "", {{"A", {}}}}),
    [](const auto &row) { return std::string(row.param.label); });

TEST(Store, ReadOnceUntilFreed) {
    write_file(kSettings, "A=1\n");
    char *first = nullptr;
    ASSERT_EQ(ext_GetCustomiseInfo("A", &first), 1);
    write_file(kSettings, "A=2\n");
    char *again = nullptr;
    ASSERT_EQ(ext_GetCustomiseInfo("A", &again), 1);
    EXPECT_EQ(again, first);
    ext_FreeInfo();
    EXPECT_EQ(lookup("A"), "2");
    EXPECT_EQ(calls("sxl_fopen"), 2);
    EXPECT_EQ(calls("sxl_fclose"), 2);
}

TEST(Store, FreeingAnUnloadedStoreDoesNothing) {
    write_file(kSettings, "A=1\n");
    ext_FreeInfo();
    ext_FreeInfo();
    EXPECT_EQ(lookup("A"), "1");
    ext_FreeInfo();
    ext_FreeInfo();
    EXPECT_EQ(lookup("A"), "1");
    EXPECT_EQ(calls("sxl_fopen"), 2);
    EXPECT_EQ(calls("sxl_free"), 2);  // table and pool, once
}

TEST(Store, NullArgumentsAreRefusedWithoutLoading) {
    write_file(kSettings, "A=1\n");
    char untouched = 0;
    char *value = &untouched;
    EXPECT_EQ(ext_GetCustomiseInfo(nullptr, &value), 0);
    EXPECT_EQ(value, &untouched);
    EXPECT_EQ(ext_GetCustomiseInfo("A", nullptr), 0);
    EXPECT_EQ(calls("sxl_fopen"), 0);
}

TEST(Store, ThousandsOfDuplicatesKeepTheLast) {
    std::string content;
    for (int i = 0; i < 3000; ++i)
        content += "DUP=" + std::to_string(i) + "\nK" + std::to_string(i) + "=v\n";
    write_file(kSettings, content);
    EXPECT_EQ(lookup("DUP"), "2999");
    EXPECT_EQ(lookup("K0"), "v");
    EXPECT_EQ(lookup("K2999"), "v");
    EXPECT_EQ(calls("sxl_fclose"), 1);
}

TEST(Store, SimultaneousFirstLookupsShareOneLoad) {
    write_file(kSettings, "A=1\nB=2\nA=3\n");
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<char *> a(kThreads), b(kThreads);
    std::vector<int> missing(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            char *unused = nullptr;
            if (!ext_GetCustomiseInfo("A", &a[t]) || !ext_GetCustomiseInfo("B", &b[t]))
                ++missing[t];
            missing[t] += ext_GetCustomiseInfo("C", &unused) == 0 ? 0 : 1;
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(missing[t], 0) << t;
        EXPECT_EQ(a[t], a[0]) << t;
        EXPECT_EQ(b[t], b[0]) << t;
    }
    EXPECT_STREQ(a[0], "3");
    EXPECT_STREQ(b[0], "2");
    EXPECT_EQ(calls("sxl_fopen"), 1);
}

}  // namespace
