// The bit-map routines the straightforward way, one byte and one bit at a time:
// what the tests and the benchmark hold the library's versions against. A null map
// counts as an invalid argument, and a run whose first bit index does not fit an
// int is not found, as in the library.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>

namespace hv::reference {

inline int bit_index(int byte, int bit) {
    const std::int64_t index = std::int64_t{byte} * 8 + bit;
    return index > INT_MAX ? -1 : static_cast<int>(index);
}

// word_skip: pass over leading all-ones 32-bit words of an aligned map first, as
// the original search did; it only skips full bytes, so it never changes a result.
inline int find_bits(const unsigned char *map, int size, int nbits, int skip,
                     bool word_skip = false) {
    if (map == nullptr || nbits < 1 || size < 1) return -1;
    const int k = (nbits - 1) >> 3;
    const int tail = nbits - 8 * k;
    const unsigned mask = (1u << tail) - 1;
    const int lim = size - k;

    int start = 0;
    if (skip > 0) {
        if (lim <= 0) return -1;
        int seen = 0;
        int i = 0;
        while (i < lim && !(map[i] != 0xFF && ++seen == skip)) ++i;
        if (i == lim) return -1;
        start = i + 1;
    } else if (word_skip && reinterpret_cast<std::uintptr_t>(map) % 4 == 0 && size >= 4) {
        int word = 0;
        for (; word < size / 4; ++word) {
            std::uint32_t w;
            std::memcpy(&w, map + 4 * word, 4);
            if (w != 0xFFFFFFFFu) break;
        }
        start = 4 * word;
    }
    if (start >= lim) return -1;

    if (nbits == 1) {
        for (int i = start; i < size; ++i) {
            if (map[i] == 0xFF) continue;
            for (int p = 0; p < 8; ++p)
                if (!(map[i] & (1u << p))) return bit_index(i, p);
        }
        return -1;
    }
    if (nbits <= 8) {
        const unsigned run = (1u << nbits) - 1;
        for (int i = start; i < size; ++i) {
            if (map[i] == 0xFF) continue;
            const unsigned high = i < size - 1 ? map[i + 1] : 0xFF;
            const unsigned window = map[i] | high << 8;
            for (int s = 0; s <= 16 - nbits; ++s)
                if (!(window & run << s)) return bit_index(i, s);
        }
        return -1;
    }
    int i = start;
    while (i < lim) {
        int j = i;
        while (j < i + k && map[j] == 0) ++j;
        if (j < i + k) {
            i = j + 1;
        } else if (map[i + k] & mask) {
            i = i + k + 1;
        } else {
            return bit_index(i, 0);
        }
    }
    return -1;
}

// The bytes of the range that lie in the map, with the mask of the range's bits in
// each; f(index, mask) returns false to stop. False when the arguments are invalid.
template <typename F>
bool for_each_range_byte(int size, int first, int count, F f) {
    if (count < 1 || size < 1 || first < 0) return false;
    const std::int64_t wide_last = std::int64_t{first} + count - 1;
    // The range end in 32-bit arithmetic: past INT_MAX it wraps below the start.
    const int last = static_cast<int>(static_cast<std::uint32_t>(wide_last));
    const int fb = first >> 3;
    const int lb = last >> 3;
    if (fb > lb || fb >= size) return true;
    for (int i = fb; i <= lb && i < size; ++i) {
        unsigned mask = 0xFF;
        if (i == fb) mask &= (0xFFu << (first & 7)) & 0xFF;
        if (i == lb) mask &= 0xFFu >> (7 - (last & 7));
        if (!f(i, mask)) break;
    }
    return true;
}

inline void set_bits(unsigned char *map, int size, int first, int count, int set) {
    if (map == nullptr) return;
    for_each_range_byte(size, first, count, [&](int i, unsigned mask) {
        map[i] = static_cast<unsigned char>(set ? map[i] | mask : map[i] & ~mask);
        return true;
    });
}

inline int check_bits(const unsigned char *map, int size, int first, int count, int set) {
    if (map == nullptr) return 0;
    bool all = true;
    const bool valid = for_each_range_byte(size, first, count, [&](int i, unsigned mask) {
        all = (map[i] & mask) == (set ? mask : 0);
        return all;
    });
    return valid && all ? 1 : 0;
}

}  // namespace hv::reference
