// Wildcard matching: rows that pin each rule down, then both matchers against the
// recursive reference on random patterns rich in the characters that matter.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "hv_ext.h"
#include "reference_text.h"

namespace {

struct Row {
    const char *string;
    const char *pattern;
    int glob;
    int globcase;  // in the C locale
};

// The rows are checked against the reference too, so that the differential test
// below compares with a reference known to read the rules this way.
TEST(Wildcard, FollowsEveryRule) {
    const Row rows[] = {
        {"abc", "a*c", 1, 1},      {"abc", "*", 1, 1},          {"", "*", 1, 1},
        {"", "*a", 0, 0},          {"", "", 1, 1},              {"a", "", 0, 0},
        {"", "**", 1, 1},          {"", "*?", 0, 0},            {"a", "a*", 1, 1},
        {"a/b", "a*b", 1, 1},      {".x", "*x", 1, 1},          {"ABC", "a*c", 0, 1},
        // classes: first member, ranges either way, "-" as a member, no negation
        {"b", "[a-c]", 1, 1},      {"b", "[c-a]", 1, 1},        {"-", "[a-c]", 0, 0},
        {"-", "[-a]", 1, 1},       {"!", "[!a]", 1, 1},         {"b", "[!a]", 0, 0},
        {"^", "[^a]", 1, 1},       {"B", "[a-c]", 0, 1},        {"b", "[A-C]", 0, 1},
        {"a", "[]a]", 0, 0},       {"]", "[]a]", 0, 0},         {"]", "[]", 0, 0},
        {"d", "[a-c-e]", 0, 0},    {"-", "[a-c-e]", 1, 1},      {"e", "[a-c-e]", 1, 1},
        {".", "[a-c--/]", 1, 1},   {"0", "[--a]", 1, 1},        {"\\", "[\\]", 1, 1},
        {"]", "[\\]]", 0, 0},      {"\\]", "[\\]]", 1, 1},      {"*", "[*]", 1, 1},
        // unclosed classes and a missing upper bound
        {"a", "[", 0, 0},          {"a", "[abc", 1, 1},         {"ab", "[abc", 0, 0},
        {"d", "[abc", 0, 0},       {"b", "[a-", 0, 0},          {"a", "[a-", 1, 1},
        {"ba", "*[a-", 1, 1},      {"bx", "[ab-", 0, 0},        {"b", "[ab-", 1, 1},
        // "]" as a range bound: the walk goes on after the next "]" past the member
        {"]", "[a-]", 1, 1},       {"_", "[a-]", 1, 1},         {"b", "[a-]", 0, 0},
        {"_x]", "[a-]x]", 1, 1},   {"_x", "[a-]x]", 0, 0},      {"bx", "[a-]b]x", 1, 1},
        {"bb]x", "[a-]b]x", 0, 0}, {"_b]x", "[a-]b]x", 1, 1},   {"_*x", "*[a-]*]x", 1, 1},
        {"_ab]x", "[a-]*]x", 1, 1}, {"*x", "[a-]*]x", 1, 1},    {"_x", "[a-]*]x", 0, 0},
        // backslash
        {"*", "\\*", 1, 1},        {"x", "\\*", 0, 0},          {"a", "a\\", 0, 0},
        {"", "\\", 0, 0},          {"\\", "\\\\", 1, 1},        {"[", "\\[", 1, 1},
        {"A", "\\a", 0, 1},
        // bytes above 0x7F: signed order in ext_glob; lowered ints against a signed
        // upper bound in ext_globcase
        {"\xe9", "[\x80-\xff]", 1, 0},  {"\xff", "[a-\xff]", 1, 0},
        {"a", "[a-\xff]", 1, 1},        {"b", "[a-\xff]", 0, 0},
        {"B", "[a-\x80]", 1, 0},        {"\x90", "[a-\x80]", 1, 0},
        {"\x90", "[\x80-a]", 1, 0},     {"b", "[\x80-a]", 0, 1},
        {"\xe9", "?", 1, 1},            {"\xe9\xff", "*\xff", 1, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << "'" << row.string << "' against '" << row.pattern << "'");
        EXPECT_EQ(ext_glob(row.string, row.pattern), row.glob);
        EXPECT_EQ(ext_globcase(row.string, row.pattern), row.globcase);
        EXPECT_EQ(hv::reference::glob(row.string, row.pattern, false), row.glob);
        EXPECT_EQ(hv::reference::glob(row.string, row.pattern, true), row.globcase);
    }
}

TEST(Wildcard, RefusesNullArguments) {
    EXPECT_EQ(ext_glob(nullptr, "*"), 0);
    EXPECT_EQ(ext_glob("", nullptr), 0);
    EXPECT_EQ(ext_globcase(nullptr, "*"), 0);
    EXPECT_EQ(ext_globcase("", nullptr), 0);
}

// Patterns built from the pieces that interact ("*" inside and outside classes,
// ranges ending in "]", escapes, high bytes); strings half random, half made to
// nearly follow the pattern so that about a third of the cases match.
class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    std::string pattern() {
        static const char *const kPieces[] = {"*",  "*",  "?",  "[", "]",    "-",  "\\",
                                              "a",  "b",  "A",  "!", "^",    "\x80", "\xe9",
                                              "\xff", "[a-]", "-]", "[]", "[\xe9-\x80"};
        std::string p;
        for (int n = pick(9); n > 0; --n) p += kPieces[pick(std::size(kPieces))];
        return p;
    }

    std::string string_for(const std::string &p) {
        std::string s;
        if (pick(4) == 0) {
            for (int n = pick(10); n > 0; --n) s += any();
            return s;
        }
        for (std::size_t i = 0; i < p.size() && s.size() < 12; ++i) {
            const char c = p[i];
            if (c == '*') {
                for (int n = pick(4); n > 0; --n) s += any();
            } else if (c == '?') {
                s += any();
            } else if (c == '[') {
                s += i + 4 <= p.size() && pick(4) != 0 ? p[i + 1 + pick(3)] : any();
            } else if (c != '\\' || pick(2) == 0) {
                s += pick(8) == 0 ? any() : c;
            }
        }
        return s;
    }

private:
    int pick(std::size_t n) { return static_cast<int>(rng_() % n); }
    char any() {
        static constexpr char kChars[] = "ab]-*[_^A\\\x80\xe9\xff";
        return kChars[pick(sizeof kChars - 1)];
    }
    std::mt19937 rng_;
};

TEST(Wildcard, AgreesWithTheRecursiveWalk) {
    // Fewer under qemu-i386, which is some ten times slower.
    const int rounds = sizeof(void *) == 4 ? 150000 : 400000;
    Generator generate(20240611);
    int matches = 0;
    int failures = 0;
    for (int round = 0; round < rounds && failures < 10; ++round) {
        const std::string p = generate.pattern();
        const std::string s = generate.string_for(p);
        const int exact = hv::reference::glob(s.c_str(), p.c_str(), false);
        const int folded = hv::reference::glob(s.c_str(), p.c_str(), true);
        matches += exact;
        if (ext_glob(s.c_str(), p.c_str()) != exact ||
            ext_globcase(s.c_str(), p.c_str()) != folded) {
            ++failures;
            ADD_FAILURE() << "'" << s << "' against '" << p << "': reference " << exact << "/"
                          << folded;
        }
    }
    EXPECT_GT(matches, rounds / 5);
}

std::string repeat(const char *piece, int times) {
    std::string out;
    while (times-- > 0) out += piece;
    return out;
}

// Each "*" must not cost a level of retries: the reference would take hours here.
TEST(Wildcard, ManyStarsCostNoRetries) {
    const std::string stars = repeat("*a", 30);
    const std::string as(100, 'a');
    EXPECT_EQ(ext_glob(as.c_str(), (stars + "b").c_str()), 0);
    EXPECT_EQ(ext_glob((as + "b").c_str(), (stars + "b").c_str()), 1);
    EXPECT_EQ(ext_globcase(as.c_str(), (stars + "B").c_str()), 0);
    // The same through classes whose ranges end in "]".
    EXPECT_EQ(ext_glob(as.c_str(), (stars + "[c-]").c_str()), 1);
    EXPECT_EQ(ext_glob((as + "c").c_str(), (stars + "[b-]").c_str()), 0);
    EXPECT_EQ(ext_glob(as.c_str(), repeat("*[a-]", 40).c_str()), 1);
    EXPECT_EQ(ext_glob(as.c_str(), (repeat("*[a-]", 40) + "x").c_str()), 0);
}

TEST(Wildcard, LongPatterns) {
    const std::string as(5000, 'a');
    EXPECT_EQ(ext_glob(as.c_str(), std::string(5000, '?').c_str()), 1);
    EXPECT_EQ(ext_glob(as.c_str(), std::string(5001, '?').c_str()), 0);
    EXPECT_EQ(ext_glob("a", (std::string(100000, '*') + "a").c_str()), 1);
    // A class range ending in "]" is followed in patterns up to 65,535 bytes.
    EXPECT_EQ(ext_glob("_", ("[a-]" + std::string(65531, '*')).c_str()), 1);
    EXPECT_EQ(ext_glob("_", ("[a-]" + std::string(65532, '*')).c_str()), 0);
    EXPECT_EQ(ext_glob("_", ("\\[a-]" + std::string(70000, '*')).c_str()), 0);
    EXPECT_EQ(ext_glob("[a-]", ("\\[a-]" + std::string(70000, '*')).c_str()), 1);
}

}  // namespace
