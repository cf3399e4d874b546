// Wildcard matching: its rules, and patterns that would take a backtracking matcher hours.

#include <gtest/gtest.h>

#include <tuple>

#include "hv_ext.h"

namespace {

TEST(Wildcard, FollowsEveryRule) {
    std::string stars_b = "b", lanes_x = "x";  // many stars before what never comes
    for (int i = 0; i < 30; ++i) stars_b.insert(0, "*a");
    for (int i = 0; i < 40; ++i) lanes_x.insert(0, "*[a-]");
    const std::string as(100, 'a'), star_run = std::string(100000, '*') + "a";
    const std::string far = "[a-]" + std::string(65531, '*'), too_far = far + "*";
    const std::tuple<const char *, const char *, int, int> rows[] = {  // glob, globcase in C
        {"abc", "a*c", 1, 1}, {"", "*", 1, 1}, {"", "*a", 0, 0}, {"", "", 1, 1}, {"a", "", 0, 0},
        {"", "*?", 0, 0}, {"a/b", "a*b", 1, 1}, {".x", "*x", 1, 1}, {"ABC", "a*c", 0, 1},
        // classes: ranges either way, "-" and "\\" as members, no negation; unclosed ones
        {"b", "[a-c]", 1, 1}, {"b", "[c-a]", 1, 1}, {"-", "[a-c]", 0, 0}, {"-", "[-a]", 1, 1},
        {"!", "[!a]", 1, 1}, {"b", "[!a]", 0, 0}, {"B", "[a-c]", 0, 1}, {"b", "[A-C]", 0, 1},
        {"a", "[]a]", 0, 0}, {"d", "[a-c-e]", 0, 0}, {"-", "[a-c-e]", 1, 1}, {"\\", "[\\]", 1, 1},
        {"a", "[", 0, 0}, {"a", "[abc", 1, 1}, {"ab", "[abc", 0, 0}, {"d", "[abc", 0, 0},
        {"b", "[a-", 0, 0}, {"a", "[a-", 1, 1}, {"ba", "*[a-", 1, 1}, {"b", "[ab-", 1, 1},
        // "]" as a range bound: the walk goes on after the next "]" past the member
        {"]", "[a-]", 1, 1}, {"_", "[a-]", 1, 1}, {"b", "[a-]", 0, 0}, {"_x]", "[a-]x]", 1, 1},
        {"_x", "[a-]x]", 0, 0}, {"bx", "[a-]b]x", 1, 1}, {"bb]x", "[a-]b]x", 0, 0},
        {"_*x", "*[a-]*]x", 1, 1}, {"_ab]x", "[a-]*]x", 1, 1}, {"*x", "[a-]*]x", 1, 1},
        // backslash; above 0x7F signed order, in ext_globcase ints against a signed upper bound
        {"*", "\\*", 1, 1}, {"x", "\\*", 0, 0}, {"a", "a\\", 0, 0}, {"\\", "\\\\", 1, 1},
        {"A", "\\a", 0, 1}, {"\xe9", "[\x80-\xff]", 1, 0}, {"\xff", "[a-\xff]", 1, 0},
        {"b", "[a-\xff]", 0, 0}, {"B", "[a-\x80]", 1, 0}, {"\x90", "[\x80-a]", 1, 0},
        {"b", "[\x80-a]", 0, 1}, {nullptr, "*", 0, 0}, {"", nullptr, 0, 0},
        // no level of retries per "*"; a range ending in "]" followed up to 65,535 bytes
        {as.c_str(), stars_b.c_str(), 0, 0}, {as.c_str(), lanes_x.c_str(), 0, 0},
        {"a", star_run.c_str(), 1, 1}, {"_", far.c_str(), 1, 1}, {"_", too_far.c_str(), 0, 0},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto &[string, pattern, glob, globcase] = rows[i];
        SCOPED_TRACE(testing::Message() << "row " << i);
        EXPECT_EQ(ext_glob(string, pattern), glob);
        EXPECT_EQ(ext_globcase(string, pattern), globcase);
    }
}

}  // namespace
