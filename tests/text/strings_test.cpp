// String utilities: translation chains, the case-insensitive equality test, case
// copies and their static buffers, and the command-line split. Buffers are sized
// exactly, so that AddressSanitizer sees any byte written or read past them.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hv_ext.h"

namespace {

struct TranslateRow {
    const char *str, *from, *to, *expected;
};

TEST(TranslateChars, FollowsReplacementChains) {
    const TranslateRow rows[] = {
        {"a/b/c", "/", "_", "a_b_c"},
        {"aab", "ab", "bc", "ccc"},    // a becomes b, and that b becomes c
        {"a", "aa", "xy", "x"},        // the first place in from counts
        {"abc", "", "xyz", "abc"},
        {"", "a", "b", ""},
        {"\xe9t\xe9", "\xe9", "e", "ete"},
        // cyclic mappings: a chain stops before coming back to a character
        {"abba", "ab", "ba", "baab"},
        {"abc", "abc", "bca", "cab"},
        {"aaa", "a", "a", "aaa"},
        {"abcd", "abc", "bcb", "ccbd"},  // a to b to c to b: ends at c
        // a to shorter than from: characters without a counterpart stay
        {"abc", "abc", "x", "xbc"},
        {"abc", "abc", "", "abc"},
        {"aab", "ab", "b", "bbb"},
    };
    for (const TranslateRow &row : rows) {
        std::string str = row.str;
        EXPECT_EQ(ext_TranslateChars(str.data(), row.from, row.to), static_cast<int>(str.size()))
            << row.str;
        EXPECT_EQ(str, row.expected) << row.str << " " << row.from << " " << row.to;
    }
}

TEST(TranslateChars, NullArgumentsChangeNothing) {
    char str[] = "abc";
    EXPECT_EQ(ext_TranslateChars(nullptr, "a", "b"), 0);
    EXPECT_EQ(ext_TranslateChars(str, nullptr, "b"), 3);
    EXPECT_EQ(ext_TranslateChars(str, "a", nullptr), 3);
    EXPECT_STREQ(str, "abc");
}

TEST(Cicmp, IsAnEqualityVerdict) {
    struct Row {
        const char *a, *b;
        int n, expected;
    } rows[] = {
        {"abc", "ABD", 2, 0}, {"abc", "ABD", 3, 1}, {"ab", "AB", 5, 0},
        {"ab", "abc", 5, 1},  {"abc", "ab", 5, 1},  {nullptr, nullptr, 5, 0},
        {"a", "b", 0, 0},     {"a", "b", -1, 0},    {"", "", 1, 0},
        {"a", nullptr, 1, 1}, {nullptr, "", 1, 1},  {"a", nullptr, 0, 0},
        {"x\xe9", "X\xc9", 2, 1},  // no case for high bytes in the C locale
        {"a\0x", "a\0y", 3, 0},    // nothing is compared after both NULs
    };
    for (const Row &row : rows)
        EXPECT_EQ(ext_cicmp(row.a, row.b, row.n), row.expected)
            << (row.a ? row.a : "(null)") << " " << (row.b ? row.b : "(null)") << " " << row.n;
}

TEST(CaseCopies, UseTheirOwnStaticBuffers) {
    char *down = ext_DownString(nullptr, "MiXeD");
    EXPECT_STREQ(down, "mixed");
    char *up = ext_UpString(nullptr, "MiXeD");
    EXPECT_STREQ(up, "MIXED");
    EXPECT_NE(down, up);
    EXPECT_STREQ(down, "mixed");
    EXPECT_EQ(ext_DownString(nullptr, "AGAIN"), down);
    EXPECT_STREQ(down, "again");
    EXPECT_EQ(ext_UpString(nullptr, ""), up);
    EXPECT_STREQ(up, "");
    EXPECT_STREQ(ext_DownString(nullptr, nullptr), "");
}

TEST(CaseCopies, WriteIntoTheCallersBuffer) {
    const std::string text = "Hello, World 42 \xc9";
    auto dst = std::make_unique<char[]>(text.size() + 1);
    EXPECT_EQ(ext_UpString(dst.get(), text.c_str()), dst.get());
    EXPECT_STREQ(dst.get(), "HELLO, WORLD 42 \xc9");
    std::string in_place = text;
    EXPECT_EQ(ext_DownString(in_place.data(), in_place.c_str()), in_place.data());
    EXPECT_EQ(in_place, "hello, world 42 \xc9");
}

// Without a destination, a text over 2,048 characters is cut there; with one, it
// is copied whole.
TEST(CaseCopies, CutLongTextsToTheStaticBuffer) {
    for (std::size_t length : {2047u, 2048u, 2049u, 100000u}) {
        const std::string text(length, 'Q');
        const std::size_t kept = std::min<std::size_t>(length, 2048);
        EXPECT_EQ(std::string(ext_DownString(nullptr, text.c_str())), std::string(kept, 'q'));
        EXPECT_EQ(std::string(ext_UpString(nullptr, text.c_str())), std::string(kept, 'Q'));
        std::string copy = text;
        ext_DownString(copy.data(), text.c_str());
        EXPECT_EQ(copy, std::string(length, 'q'));
    }
}

struct SplitRow {
    const char *line;
    int maxargs;
    std::vector<std::string> words;
};

// Splits line with buffers of exactly the documented sizes.
std::vector<std::string> split(const char *line, int maxargs, int *argc_out) {
    auto buf = std::make_unique<char[]>(std::strlen(line) + 1);
    const std::size_t slots = maxargs > 0 ? static_cast<std::size_t>(maxargs) + 1 : 1;
    static char filler;
    std::vector<char *> argv(slots, &filler);
    int argc = -1;
    ext_ConvStr2ArgV(line, maxargs, buf.get(), &argc, argv.data());
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) words.emplace_back(argv[static_cast<std::size_t>(i)]);
    EXPECT_EQ(argv[static_cast<std::size_t>(argc)], nullptr) << line;
    *argc_out = argc;
    return words;
}

TEST(ConvStr2ArgV, SplitsAtUnquotedSpaces) {
    const SplitRow rows[] = {
        {"a b  c", 10, {"a", "b", "c"}},
        {"  a b  ", 10, {"a", "b"}},
        {"\"a b\" c", 10, {"a b", "c"}},
        {"a\\ b c", 10, {"a b", "c"}},
        {"a \"\" b", 10, {"a", "b"}},
        {"\"\" \"\"", 10, {}},
        {"a\tb", 10, {"a\tb"}},
        {"ab\"cd ef\"gh i", 10, {"abcd efgh", "i"}},
        {"x\\\"y", 10, {"x\"y"}},
        {"a\\", 10, {"a"}},
        {"\\\\ \\", 10, {"\\"}},
        {"a \"b c", 10, {"a", "b c"}},  // an unclosed quote runs to the end
        {"\"a\\\" b\"", 10, {"a\" b"}},
        {"   ", 10, {}},
        {"", 10, {}},
        {"a b c d", 2, {"a", "b"}},
        {"a b c d", 4, {"a", "b", "c", "d"}},
        {"a b c d", 0, {}},
        {"a b c d", -1, {}},
        {"a b c d", -2147483647 - 1, {}},
    };
    for (const SplitRow &row : rows) {
        int argc = -1;
        EXPECT_EQ(split(row.line, row.maxargs, &argc), row.words)
            << "'" << row.line << "' maxargs " << row.maxargs;
        EXPECT_EQ(argc, static_cast<int>(row.words.size()));
    }
}

TEST(ConvStr2ArgV, KeepsUnrecordedWordsInTheBuffer) {
    char buf[8];
    char *argv[2];
    int argc = 0;
    ext_ConvStr2ArgV("a b c", 1, buf, &argc, argv);
    EXPECT_EQ(argc, 1);
    EXPECT_EQ(argv[0], buf);
    EXPECT_EQ(argv[1], nullptr);
    EXPECT_EQ(std::string(buf, 6), std::string("a\0b\0c\0", 6));
}

TEST(ConvStr2ArgV, NullArgumentsGiveNoWords) {
    char buf[4] = "xyz";
    char *argv[1] = {buf};
    int argc = 7;
    ext_ConvStr2ArgV(nullptr, 5, buf, &argc, argv);
    EXPECT_EQ(argc, 0);
    EXPECT_EQ(argv[0], nullptr);
    EXPECT_STREQ(buf, "");
    argv[0] = buf;
    ext_ConvStr2ArgV("a b", 5, nullptr, &argc, argv);
    EXPECT_EQ(argv[0], nullptr);
    ext_ConvStr2ArgV("a b", 5, buf, nullptr, nullptr);
}

}  // namespace
