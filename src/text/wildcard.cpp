// Shell-style wildcard matching of a whole string: "*", "?", "[...]" and backslash.
//
// Every element but "*" consumes exactly one character, and a class's place to go
// on from is normally the byte after its closing "]". A range whose upper bound is
// itself "]" breaks that: the walk goes on after the next "]" following the member
// that matched, so one class can lead to several places, and a "*" that one member
// skips is a real "*" for another. The classic walk that backtracks to the last
// "*" only is exact while every element has one way to go on; when such a class
// matches on its way, a set of pattern positions advanced one string character at
// a time takes over. Both cost O(string x pattern) at most, on the stack, with no
// recursion.

#include <bit>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstring>

#include "hv_ext.h"

namespace hv::text {
namespace {

using Byte = unsigned char;

// A string character as the comparisons see it: eq for equality with members and
// literals, ord for the range tests.
struct Subject {
    int eq;
    int ord;
};

// ext_glob: bytes compared as they are, ranges ordered as signed chars.
struct ExactBytes {
    static Subject subject(Byte c) { return {c, static_cast<signed char>(c)}; }
    static int eq(Byte c) { return c; }
    static int lower_bound(Byte c) { return static_cast<signed char>(c); }
    static int upper_bound(Byte c) { return static_cast<signed char>(c); }
    static const Byte *find(const Byte *s, Byte c) {
        if (*s == c || *s == '\0') return *s == c ? s : nullptr;  // the common case, no call
        return reinterpret_cast<const Byte *>(std::strchr(reinterpret_cast<const char *>(s + 1), c));
    }
};

// ext_globcase: everything through tolower() of the current locale. The lower bound
// and the string character keep tolower's int value, the upper bound is taken as a
// signed char: the same order for 7-bit text, a mixed one above it.
struct LowerCase {
    static Subject subject(Byte c) {
        const int lowered = std::tolower(c);
        return {lowered, lowered};
    }
    static int eq(Byte c) { return std::tolower(c); }
    static int lower_bound(Byte c) { return std::tolower(c); }
    static int upper_bound(Byte c) { return static_cast<signed char>(std::tolower(c)); }
    static const Byte *find(const Byte *s, Byte c) {
        const int lowered = std::tolower(c);
        for (; *s != '\0'; ++s)
            if (std::tolower(*s) == lowered) return s;
        return nullptr;
    }
};

template <class Fold>
bool in_range(Byte low, Byte high, Subject c) {
    const int lo = Fold::lower_bound(low);
    const int hi = Fold::upper_bound(high);
    return (lo <= c.ord && c.ord <= hi) || (lo >= c.ord && c.ord >= hi);
}

// The class at "[": where the pattern goes on when c matches a member (past the
// next "]" after the member, or the pattern's end when there is none), else null.
template <class Fold>
const Byte *match_class(const Byte *open, Subject c) {
    const Byte *member = open + 1;
    for (;;) {
        // "]" as the first member, or as any later one before a match: no match.
        if (*member == ']' || *member == '\0') return nullptr;
        if (Fold::eq(*member) == c.eq) break;
        if (member[1] == '-') {
            if (member[2] == '\0') return nullptr;  // a range without its upper bound
            if (in_range<Fold>(member[0], member[2], c)) break;
            member += 3;
        } else {
            ++member;
        }
    }
    const Byte *at = member + 1;
    while (*at != ']' && *at != '\0') ++at;
    return *at == ']' ? at + 1 : at;
}

// The element at p (neither "*" nor the pattern's end) against one character:
// where the pattern goes on, or null when the character does not match.
template <class Fold>
const Byte *match_element(const Byte *p, Subject c) {
    switch (*p) {
    case '?':
        return p + 1;
    case '[':
        return match_class<Fold>(p, c);
    case '\\':
        if (p[1] == '\0') return nullptr;
        return Fold::eq(p[1]) == c.eq ? p + 2 : nullptr;
    default:
        return Fold::eq(*p) == c.eq ? p + 1 : nullptr;
    }
}

// True when the class at "[" goes on from the same place whichever member
// matches: when none of its ranges ends in "]".
bool one_way_on(const Byte *open) {
    const Byte *member = open + 1;
    while (*member != '\0' && *member != ']') {
        if (member[1] != '-') {
            ++member;
        } else if (member[2] == ']') {
            return false;
        } else if (member[2] == '\0') {
            return true;
        } else {
            member += 3;
        }
    }
    return true;
}

// The first place from s where the element at p might match: a literal needs its
// own character there, so the places before it can be passed over. Null when that
// character does not occur.
template <class Fold>
const Byte *candidate(const Byte *s, const Byte *p) {
    Byte literal = *p;
    if (literal == '\\') literal = p[1];
    else if (literal == '?' || literal == '[') return s;
    if (literal == '\0') return s;  // a lone backslash at the end: matches nothing anyway
    return Fold::find(s, literal);
}

enum class Verdict { kNo, kYes, kUnsure };

// The walk that backtracks to the last "*" only. A later "*" is reached earliest
// by the shortest extension of the earlier ones, and every way through the rest of
// the pattern passes it, so the earlier ones never need another try. That holds
// while every element goes on from one place; the walk gives up (kUnsure) when a
// class that does not matches. Until then it has followed the only way through the
// pattern there is, and its "no" stands.
template <class Fold>
Verdict match_last_star(const Byte *s, const Byte *p) {
    const Byte *star_p = nullptr;  // the element after the last "*" met
    const Byte *star_s = nullptr;  // where the string stood when it was last tried
    for (;;) {
        if (*p == '*') {
            do ++p;
            while (*p == '*');
            if (*p == '\0') return Verdict::kYes;
            star_p = p;
            star_s = candidate<Fold>(s, p);
            if (star_s == nullptr) return Verdict::kNo;
            s = star_s;
            continue;
        }
        if (*s == '\0') return *p == '\0' ? Verdict::kYes : Verdict::kNo;
        if (*p != '\0') {
            if (const Byte *next = match_element<Fold>(p, Fold::subject(*s))) {
                if (*p == '[' && !one_way_on(p)) return Verdict::kUnsure;
                p = next;
                ++s;
                continue;
            }
        }
        if (star_p == nullptr) return Verdict::kNo;
        p = star_p;
        star_s = candidate<Fold>(star_s + 1, p);
        if (star_s == nullptr) return Verdict::kNo;
        s = star_s;
    }
}

// The set of pattern positions the walk can be at, one bit each, on the stack.
using Word = unsigned long;
constexpr std::size_t kWordBits = sizeof(Word) * CHAR_BIT;
constexpr std::size_t kMaxPositions = 65536;  // 8 KiB
constexpr Word bit(std::size_t at) { return Word{1} << (at % kWordBits); }

class Positions {
public:
    explicit Positions(std::size_t count) : words_((count + kWordBits - 1) / kWordBits) {
        std::memset(bits_, 0, words_ * sizeof(Word));
    }
    bool has(std::size_t at) const { return (bits_[at / kWordBits] & bit(at)) != 0; }
    void add(std::size_t at) { bits_[at / kWordBits] |= bit(at); }
    void remove(std::size_t at) { bits_[at / kWordBits] &= ~bit(at); }
    std::size_t words() const { return words_; }
    Word word(std::size_t i) const { return bits_[i]; }

private:
    std::size_t words_;
    Word bits_[kMaxPositions / kWordBits];
};

// A position at a "*" also stands at the element after it (and after a run of them).
void follow_stars(const Byte *p, Positions &at) {
    for (std::size_t w = 0; w < at.words(); ++w) {
        Word pending = at.word(w);
        while (pending != 0) {
            const std::size_t j = w * kWordBits + static_cast<std::size_t>(std::countr_zero(pending));
            pending &= pending - 1;
            // A position already in the set is followed on its own turn, later.
            for (std::size_t k = j; p[k] == '*' && !at.has(k + 1); ++k) at.add(k + 1);
        }
    }
}

// One string character: each position moves to where its element goes on ("*"
// stays). Taken from the highest position down, since every move goes forward.
// False when no position is left.
template <class Fold>
bool advance(const Byte *p, std::size_t length, Subject c, Positions &at) {
    at.remove(length);  // the pattern's end takes no character
    bool any = false;
    for (std::size_t w = at.words(); w-- > 0;) {
        Word pending = at.word(w);
        while (pending != 0) {
            const int top = static_cast<int>(kWordBits) - 1 - std::countl_zero(pending);
            const std::size_t j = w * kWordBits + static_cast<std::size_t>(top);
            pending &= ~bit(j);
            if (p[j] == '*') {
                any = true;
                continue;
            }
            at.remove(j);
            if (const Byte *next = match_element<Fold>(p + j, c)) {
                at.add(static_cast<std::size_t>(next - p));
                any = true;
            }
        }
    }
    return any;
}

template <class Fold>
bool match_positions(const Byte *s, const Byte *p, std::size_t length) {
    Positions at(length + 1);
    at.add(0);
    follow_stars(p, at);
    for (; *s != '\0'; ++s) {
        if (!advance<Fold>(p, length, Fold::subject(*s), at)) return false;
        follow_stars(p, at);
    }
    return at.has(length);
}

template <class Fold>
int match(const char *string, const char *pattern) {
    if (string == nullptr || pattern == nullptr) return 0;
    const auto *s = reinterpret_cast<const Byte *>(string);
    const auto *p = reinterpret_cast<const Byte *>(pattern);
    const Verdict verdict = match_last_star<Fold>(s, p);
    if (verdict != Verdict::kUnsure) return verdict == Verdict::kYes ? 1 : 0;
    const std::size_t length = std::strlen(pattern);
    if (length >= kMaxPositions) return 0;
    return match_positions<Fold>(s, p, length) ? 1 : 0;
}

}  // namespace
}  // namespace hv::text

using namespace hv::text;

extern "C" int ext_glob(const char *string, const char *pattern) noexcept {
    return match<ExactBytes>(string, pattern);
}

extern "C" int ext_globcase(const char *string, const char *pattern) noexcept {
    return match<LowerCase>(string, pattern);
}
