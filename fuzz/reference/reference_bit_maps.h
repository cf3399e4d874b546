// The bit-map routines the plain way, a bit at a time (a full byte at a time): what
// the fuzz program and the benchmark hold the library's versions against.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

namespace hv::reference {

inline bool bit_of(const unsigned char *map, std::int64_t bit) {
    return (map[bit >> 3] >> (bit & 7) & 1) != 0;
}

// word_skip: pass over leading all-ones 32-bit words of an aligned map first, as the
// original search did; a timing baseline for the benchmark that changes no result.
inline int find_bits(const unsigned char *map, int size, int nbits, int skip,
                     bool word_skip = false) {
    if (map == nullptr || size < 1 || nbits < 1) return -1;
    std::int64_t start = 0;  // where the run under way begins
    if (skip > 0) {
        int byte = 0;
        for (int seen = 0; byte < size && (map[byte] == 0xFF || ++seen < skip);) ++byte;
        if (byte == size) return -1;
        start = 8 * std::int64_t{byte + 1};
    } else if (word_skip && reinterpret_cast<std::uintptr_t>(map) % 4 == 0) {
        while (start / 8 + 4 <= size && (map[start / 8] & map[start / 8 + 1] & map[start / 8 + 2] &
                                         map[start / 8 + 3]) == 0xFF)
            start += 32;
    }
    // Longer runs than a byte begin on a byte only.
    const int step = nbits > 8 ? 8 : 1;
    for (std::int64_t bit = start; bit < 8 * std::int64_t{size}; ++bit) {
        if (bit % 8 == 0 && bit == start && map[bit / 8] == 0xFF) {
            start += 8;
            bit += 7;
        } else if (bit_of(map, bit)) {
            start = (bit / step + 1) * step;
            bit = start - 1;
        } else if (bit - start + 1 == nbits) {
            return start > INT_MAX ? -1 : static_cast<int>(start);
        }
    }
    return -1;
}

// A range that ends past bit INT_MAX is left alone; its bits past the map's end are
// ignored.
inline bool range_valid(int size, int first, int count) {
    return size > 0 && first >= 0 && count > 0 && std::int64_t{first} + count - 1 <= INT_MAX;
}

inline std::int64_t range_end(int size, int first, int count) {
    return std::min(std::int64_t{first} + count, 8 * std::int64_t{size});
}

inline void set_bits(unsigned char *map, int size, int first, int count, int set) {
    if (map == nullptr || !range_valid(size, first, count)) return;
    for (std::int64_t bit = first; bit < range_end(size, first, count); ++bit)
        if (bit_of(map, bit) != (set != 0)) map[bit >> 3] ^= 1 << (bit & 7);
}

inline int check_bits(const unsigned char *map, int size, int first, int count, int set) {
    if (map == nullptr || size < 1 || first < 0 || count < 1) return 0;
    if (!range_valid(size, first, count)) return 1;
    for (std::int64_t bit = first; bit < range_end(size, first, count); ++bit)
        if (bit_of(map, bit) != (set != 0)) return 0;
    return 1;
}

}  // namespace hv::reference
