// The straightforward versions of the text routines the library makes fast: the
// recursive wildcard walk and the bit-by-bit CRC-16. The fuzz program compares the
// library with them, and the benchmarks (bench/) time against them.
#pragma once

#include <cctype>

namespace hv::reference {

// One recursion level per "*", the shortest extension tried first; exponential
// in the number of stars.
inline int glob(const char *s, const char *p, bool fold) {
    auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    auto eq = [&](char c) { return fold ? lower(c) : static_cast<unsigned char>(c); };
    // A range's bounds and the character are ordered as the library documents.
    auto low = [&](char c) { return fold ? lower(c) : static_cast<signed char>(c); };
    auto high = [&](char c) { return static_cast<signed char>(fold ? lower(c) : c); };
    for (;;) {
        if (*p == '\0') return *s == '\0';
        if (*s == '\0' && *p != '*') return 0;
        switch (*p) {
        case '*':
            if (p[1] == '\0') return 1;
            for (const char *rest = s;; ++rest) {
                if (glob(rest, p + 1, fold)) return 1;
                if (*rest == '\0') return 0;
            }
        case '?':
            break;
        case '[': {
            const int c = eq(*s), order = low(*s);
            ++p;
            for (;;) {
                if (*p == ']' || *p == '\0') return 0;
                if (eq(*p) == c) break;
                if (p[1] == '-') {
                    if (p[2] == '\0') return 0;
                    const int lo = low(p[0]), hi = high(p[2]);
                    if ((lo <= order && order <= hi) || (lo >= order && order >= hi)) break;
                    p += 2;
                }
                ++p;
            }
            while (*p != ']' && *p != '\0') ++p;
            if (*p == '\0') --p;  // the class ran to the end of the pattern
            break;
        }
        case '\\':
            ++p;
            if (*p == '\0' || eq(*p) != eq(*s)) return 0;
            break;
        default:
            if (eq(*p) != eq(*s)) return 0;
        }
        ++p;
        ++s;
    }
}

// CRC-16/X-25 bit by bit; the finished register is complemented and its bytes swapped.
inline int crc16(const unsigned char *data, int len) {
    if (len < 1) return 0;
    unsigned crc = 0xFFFF;
    for (int i = 0; i < 8 * len; ++i)
        crc = ((crc ^ (data[i / 8] >> (i % 8))) & 1) != 0 ? (crc >> 1) ^ 0x8408 : crc >> 1;
    crc ^= 0xFFFF;
    return (crc >> 8) | (crc & 0xFF) << 8;
}

}  // namespace hv::reference
