// The customise info store: its lines, its lifecycle, its failure states, its growth.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using namespace std::string_literals;
using hv::test::calls;

constexpr char kSettings[] = "/srv/mail/sys/general.cfg";

// The value of key, or nothing when the lookup says 0, which must write nothing.
std::optional<std::string> lookup(const std::string &key) {
    char *value = nullptr;
    if (ext_GetCustomiseInfo(key.c_str(), &value) == 1) return value;
    EXPECT_EQ(value, nullptr) << key;
    return std::nullopt;
}

// One file holds every rule; a line of 3,000 characters arrives as 1,022-long lines.
TEST(Store, EachLineGivesItsKeyAndValueUntilFreed) {
    const std::string a1020(1020, 'a'), c954(954, 'c');
    hv::test::write_file(kSettings, "A=1\nKEY=a_b_c\nMY_KEY=x_\nEMPTY=\n=x\nnoequals\nEQ==x\n"
                                    "K2=a=b_c\nSP = x \n#C=1\n C=2\n\tC=3\n\x01" "C=4\n"
                                    "\x80H=1\n\xffH=2\n\x7fH=3\n!H=4\nCR=v\r\nN=1\0M=2\n\0O=3\n"s +
                                        "Case=1\nP=" + a1020 + "Q=" + a1020 + "R=" + c954 +
                                        "\nA=2\nLAST=1");
    const std::pair<std::string, std::optional<std::string>> lookups[] = {
        {"A", "2"}, {"KEY", "a b c"}, {"MY_KEY", "x "}, {"MY KEY", {}}, {"EMPTY", ""}, {"", {}},
        {"noequals", {}}, {"EQ", "=x"}, {"K2", "a=b c"}, {"SP ", " x "}, {"#C", {}}, {" C", {}},
        {"\tC", {}}, {"\x01" "C", {}}, {"\x80H", {}}, {"\xffH", {}}, {"\x7fH", "3"}, {"!H", "4"},
        {"CR", "v\r"}, {"N", "1"}, {"M", {}}, {"O", {}}, {"CASE", {}}, {"P", a1020}, {"Q", a1020},
        {"R", c954}, {"LAST", "1"}};
    for (const auto &[key, expected] : lookups) EXPECT_EQ(lookup(key), expected) << key;

    char *first = nullptr, *again = nullptr;
    ASSERT_EQ(ext_GetCustomiseInfo("A", &first), 1);
    hv::test::write_file(kSettings, "A=3\n");
    ASSERT_EQ(ext_GetCustomiseInfo("A", &again), 1);
    EXPECT_EQ(again, first);
    ext_FreeInfo();
    ext_FreeInfo();
    EXPECT_EQ(lookup("A"), "3");
    EXPECT_EQ(calls("sxl_fopen"), 2);
    EXPECT_EQ(ext_GetCustomiseInfo(nullptr, &first), 0);
    EXPECT_EQ(ext_GetCustomiseInfo("A", nullptr), 0);
}

// The pool grows by 128 bytes, or by a string's length and 2 for one of 127 or more,
// whenever used + length + 1 would reach its capacity.
TEST(Store, LoadsAllocateByTheGrowthRules) {
    const std::string v124 = "k=" + std::string(124, 'v') + "\n";
    const std::tuple<std::string, long, long> rows[] = {
        {"k=" + std::string(123, 'v') + "\n", 2, 0},  // 1 + 2 + 124 < 128
        {v124, 2, 1},                                  // exactly filling the pool grows it
        {std::string(200, 'k') + "=\n" + v124, 2, 2},  // a first string of 200: 202 bytes
        {std::string(127, 'k') + "=\n" + v124, 2, 2}};  // 129 bytes, then 257
    for (const auto &[content, mallocs, reallocs] : rows) {
        hv::test::write_file(kSettings, content);
        const long malloc_before = calls("sxl_malloc"), realloc_before = calls("sxl_realloc");
        lookup("k");
        EXPECT_EQ(calls("sxl_malloc") - malloc_before, mallocs) << content.size();
        EXPECT_EQ(calls("sxl_realloc") - realloc_before, reallocs) << content.size();
        ext_FreeInfo();
    }
}

}  // namespace
