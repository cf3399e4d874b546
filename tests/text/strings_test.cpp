// String utilities; the split writes buffers of exactly the documented sizes, for ASan.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <tuple>

#include "hv_ext.h"

namespace {

TEST(TranslateChars, FollowsReplacementChains) {
    const std::tuple<const char *, const char *, const char *, std::string> rows[] = {
        {"a/b/c", "/", "_", "a_b_c"}, {"aab", "ab", "bc", "ccc"}, {"a", "aa", "xy", "x"},
        {"abc", "", "xyz", "abc"}, {"\xe9t\xe9", "\xe9", "e", "ete"}, {"abc", "a", nullptr, "abc"},
        // a chain stops before it comes back to a character; a short to leaves the rest
        {"abba", "ab", "ba", "baab"}, {"abc", "abc", "bca", "cab"}, {"abcd", "abc", "bcb", "ccbd"},
        {"abc", "abc", "x", "xbc"}, {"aab", "ab", "b", "bbb"}, {"abc", nullptr, "b", "abc"},
    };
    for (const auto &[text, from, to, expected] : rows) {
        std::string str = text;
        EXPECT_EQ(ext_TranslateChars(str.data(), from, to), static_cast<int>(str.size()));
        EXPECT_EQ(str, expected) << text << " from " << from << " to " << to;
    }
    EXPECT_EQ(ext_TranslateChars(nullptr, "a", "b"), 0);
}

TEST(Cicmp, IsAnEqualityVerdict) {
    const std::tuple<const char *, const char *, int, int> rows[] = {
        {"abc", "ABD", 2, 0}, {"abc", "ABD", 3, 1}, {"ab", "AB", 5, 0}, {"ab", "abc", 5, 1},
        {"abc", "ab", 5, 1}, {nullptr, nullptr, 5, 0}, {"a", "b", 0, 0}, {"a", "b", -1, 0},
        {"a", nullptr, 1, 1}, {nullptr, "", 1, 1}, {"a\0x", "a\0y", 3, 0},
        {"x\xe9", "X\xc9", 2, 1},  // no case for high bytes in the C locale
    };
    for (const auto &[a, b, n, expected] : rows)
        EXPECT_EQ(ext_cicmp(a, b, n), expected) << a << " " << b << " " << n;
}

// Without a destination each writes its own static buffer, cutting at 2,048 characters.
TEST(CaseCopies, UseTheirOwnStaticBuffersOrTheCallers) {
    char *down = ext_DownString(nullptr, "MiXeD");
    EXPECT_STREQ(ext_UpString(nullptr, "MiXeD"), "MIXED");
    EXPECT_STREQ(down, "mixed");
    EXPECT_EQ(ext_DownString(nullptr, nullptr), down);
    EXPECT_STREQ(down, "");
    for (size_t length : {2048u, 2049u})
        EXPECT_EQ(ext_UpString(nullptr, std::string(length, 'q').c_str()), std::string(2048, 'Q'));
    std::string text(100000, 'Q');
    EXPECT_EQ(ext_DownString(text.data(), text.c_str()), text.data());
    EXPECT_EQ(text, std::string(100000, 'q'));
    char up[8];
    EXPECT_EQ(ext_UpString(up, "a\xe9z"), up);
    EXPECT_STREQ(up, "A\xe9Z");
}

TEST(ConvStr2ArgV, SplitsAtUnquotedSpaces) {
    const std::tuple<const char *, int, std::vector<std::string>> rows[] = {
        {"a b  c", 10, {"a", "b", "c"}}, {"\"a b\" c", 10, {"a b", "c"}},
        {"a\\ b c", 10, {"a b", "c"}}, {"a \"\" b", 10, {"a", "b"}}, {"\"\" \"\"", 10, {}},
        {"a\tb", 10, {"a\tb"}}, {"ab\"cd ef\"gh i", 10, {"abcd efgh", "i"}},
        {"x\\\"y", 10, {"x\"y"}}, {"\\\\ \\", 10, {"\\"}}, {"a \"b c", 10, {"a", "b c"}},
        {nullptr, 10, {}}, {"a b c d", 2, {"a", "b"}}, {"a b c d", 4, {"a", "b", "c", "d"}},
        {"a b c d", 0, {}}, {"a b c d", INT_MIN, {}},
    };
    for (const auto &[line, maxargs, words] : rows) {
        SCOPED_TRACE(testing::Message() << line << " at most " << maxargs);
        auto buf = std::make_unique<char[]>(line != nullptr ? strlen(line) + 1 : 1);
        std::vector<char *> argv(static_cast<size_t>(std::max(maxargs, 0)) + 1, buf.get());
        int argc = -1;
        ext_ConvStr2ArgV(line, maxargs, buf.get(), &argc, argv.data());
        ASSERT_GE(argc, 0);
        EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + argc), words);
        EXPECT_EQ(argv[static_cast<size_t>(argc)], nullptr);
    }
}

}  // namespace
