// The text routines where their fuzz targets cannot reach: null arguments, broken contracts,
// the static buffers, and inputs that would take a naive matcher hours or a bit map gigabytes.

#include "prelude.h"

namespace {

using namespace std::string_literals;

TEST(Wildcard, NullsAndPatternsThatBacktrackingCannotFinish) {
    std::string stars_b = "b", lanes_x = "x";  // many stars before what never comes
    for (int i = 0; i < 30; ++i) stars_b.insert(0, "*a");
    for (int i = 0; i < 40; ++i) lanes_x.insert(0, "*[a-]");
    const std::string as(100, 'a'), star_run = std::string(100000, '*') + "a";
    // A range ending in "]" is followed up to 65,535 bytes of pattern.
    const std::string far = "[a-]" + std::string(65531, '*'), too_far = far + "*";
    const std::tuple<const char *, const char *, int> rows[] = {  // string, pattern, result
        {nullptr, "*", 0}, {"", nullptr, 0}, {"a", star_run.c_str(), 1}, {"_", too_far.c_str(), 0},
        {as.c_str(), stars_b.c_str(), 0}, {as.c_str(), lanes_x.c_str(), 0}, {"_", far.c_str(), 1}};
    for (const auto &[string, pattern, expected] : rows) {
        EXPECT_EQ(ext_glob(string, pattern), expected) << (pattern ? pattern : "(null)");
        EXPECT_EQ(ext_globcase(string, pattern), expected) << (pattern ? pattern : "(null)");
    }
}

// Bit indexes past INT_MAX cannot be returned: a run that begins there is not found.
TEST(BitMaps, NullMapsAndTheLargestBitIndex) {
    EXPECT_EQ(ext_FindBits(nullptr, 4, 1, 0), -1);
    EXPECT_EQ(ext_CheckBits(nullptr, 4, 0, 1, 0), 0);
    ext_SetBits(nullptr, 4, 0, 1, 1);
    unsigned char bits[4] = {};  // a run's whole bytes leave the partial byte after them
    ext_SetBits(bits, 4, 4, 16, 1);
    EXPECT_EQ(std::vector<int>(bits, bits + 4), (std::vector<int>{0xF0, 0xFF, 0x0F, 0}));
    const int size = (1 << 28) + 1;
    std::vector<unsigned char> map(size, 0xFF);
    map.back() = 0;
    for (int refused : {0, -1, INT_MIN}) EXPECT_EQ(ext_FindBits(map.data(), refused, 1, 0), -1);
    EXPECT_EQ(ext_FindBits(map.data(), size, 1, 0), -1);
    EXPECT_EQ(ext_FindBits(map.data(), size, 8, 0), -1);
    ext_SetBits(map.data(), size, INT_MAX, 1, 0);
    EXPECT_EQ(map[size - 2], 0x7F);
    EXPECT_EQ(ext_FindBits(map.data(), size, 1, 0), INT_MAX);
    EXPECT_EQ(ext_FindBits(map.data(), size, 1, 1), -1);
}

TEST(Crc16, NoBytesGiveZero) {
    EXPECT_EQ(ext_CRC16(reinterpret_cast<const unsigned char *>("123456789"), INT_MIN), 0);
    EXPECT_EQ(ext_CRC16(nullptr, 5), 0);
}

// A chain stops before it comes back to a character; a short `to` leaves the rest.
TEST(TranslateChars, OutsideTheCallersSideOfTheContract) {
    const std::tuple<const char *, const char *, const char *, std::string> rows[] = {
        {"abba", "ab", "ba", "baab"}, {"abc", "abc", "bca", "cab"}, {"abcd", "abc", "bcb", "ccbd"},
        {"abc", "abc", "x", "xbc"},   {"aab", "ab", "b", "bbb"},    {"aab", "ab", "bc", "ccc"},
        {"abc", "a", nullptr, "abc"}, {"abc", nullptr, "b", "abc"}};
    for (const auto &[text, from, to, expected] : rows) {
        std::string str = text;
        EXPECT_EQ(ext_TranslateChars(str.data(), from, to), static_cast<int>(str.size()));
        EXPECT_EQ(str, expected) << text << " from " << (from ? from : "(null)");
    }
    EXPECT_EQ(ext_TranslateChars(nullptr, "a", "b"), 0);
}

TEST(Cicmp, IsAnEqualityVerdict) {
    const std::tuple<const char *, const char *, int, int> rows[] = {  // high bytes: no case
        {"abc", "ABD", 2, 0}, {"abc", "ABD", 3, 1}, {"ab", "AB", 5, 0}, {"ab", "abc", 5, 1},
        {"abc", "ab", 5, 1}, {nullptr, nullptr, 5, 0}, {"a", nullptr, 1, 1}, {nullptr, "", 1, 1},
        {"a", "b", 0, 0}, {"a", "b", -1, 0}, {"a\0x", "a\0y", 3, 0}, {"x\xe9", "X\xc9", 2, 1}};
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

// Quotes dropped, a backslash makes the next byte literal, at most maxargs words; buf has
// exactly the room each call is owed.
TEST(ConvStr2ArgV, QuotesEscapesAndTheWordLimit) {
    const std::tuple<const char *, int, std::string> rows[] = {  // line, maxargs, the words
        {"a \"b c\" d\\ e", 9, "a|b c|d e|"}, {"\"\" \"\"", 9, ""}, {"a \"b  c", 9, "a|b  c|"},
        {"\\\\x \\\"y", 9, "\\x|\"y|"}, {" a  b c", 2, "a|b|"}, {nullptr, 9, ""},
        {"a b", INT_MIN, ""}};
    for (const auto &[line, maxargs, expected] : rows) {
        std::string buf(line != nullptr ? std::strlen(line) + 1 : 1, '?');
        std::vector<char *> argv(std::max(maxargs, 0) + 1, buf.data());
        int argc = -1;
        ext_ConvStr2ArgV(line, maxargs, buf.data(), &argc, argv.data());
        std::string words;
        for (int i = 0; i < argc; ++i) words += argv[i] + "|"s;
        EXPECT_EQ(words, expected) << (line != nullptr ? line : "(null)");
        EXPECT_EQ(argv[argc], nullptr) << maxargs;
    }
}

}  // namespace
