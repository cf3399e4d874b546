// Bit maps: the cases that pin each rule down, then the word-wise search and the
// range routines against the byte-by-byte reference on random maps.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hv_ext.h"
#include "reference_bit_maps.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string hex(const unsigned char *map, int size) {
    std::string out;
    char byte[4];
    for (int i = 0; i < size && i < 80; ++i) {
        std::snprintf(byte, sizeof byte, "%02X ", map[i]);
        out += byte;
    }
    return out;
}

struct FindCase {
    Bytes map;
    int nbits, skip, expected;
};

TEST(BitMaps, FindsTheFirstFit) {
    Bytes nine(8, 0xFF);
    nine.push_back(0x00);
    const FindCase cases[] = {
        {{0xFF, 0xFF, 0x0F, 0x00}, 1, 0, 20},   {{0xFF, 0xFF, 0x0F, 0x00}, 4, 0, 20},
        {{0xFF, 0xFF, 0x0F, 0x00}, 5, 0, 20},   {{0xFF, 0xFF, 0x0F, 0x00}, 8, 0, 20},
        {{0xFF, 0xFF, 0x0F, 0x00}, 9, 0, -1},   {{0xFF, 0xFF, 0x0F, 0x00}, 12, 0, -1},
        {{0xFF, 0xFF, 0x0F, 0x00}, 1, 1, 24},   {{0xFF, 0xFF, 0x0F, 0x00}, 1, 2, -1},
        {{0xFF, 0xFF, 0x0F, 0x00}, 1, -5, 20},  {{0x00, 0xFF, 0x00}, 1, 1, 16},
        {{0x00, 0xFF, 0x00}, 1, 2, -1},         {{0x0F, 0xF0}, 8, 0, 4},
        {{0x0F, 0xF0}, 9, 0, -1},               {{0x00, 0xFE}, 9, 0, 0},
        {{0x00, 0x01}, 9, 0, -1},               {{0x00, 0x00}, 16, 0, 0},
        {{0x00, 0x00}, 17, 0, -1},              {{0x00, 0x00, 0x00}, 17, 0, 0},
        {{0x00, 0x00, 0x01}, 17, 0, -1},        {{0xFF, 0x3F}, 2, 0, 14},
        {{0x7F, 0x00}, 3, 0, 7},                {{0xAA, 0x00}, 3, 0, 8},
        {{0x55, 0x00}, 3, 0, 7},                {{0x01, 0x00, 0x00, 0x00}, 9, 0, 8},
        {{0x00, 0x00, 0xFF, 0x00, 0x00}, 16, 1, 24},
        {{0x00, 0x00, 0xFF, 0x00, 0x00}, 16, 3, -1},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF}, 1, 0, 56},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFC, 0xFF, 0xFF}, 3, 0, 55},
        {nine, 1, 0, 64},                       {{0x00}, 0, 0, -1},
        {{0x00}, -1, 0, -1},                    {{0x00}, INT_MIN, 0, -1},
        {{0x00}, INT_MAX, 0, -1},               {{0x00}, INT_MAX, 1, -1},
        {{0x00}, 1, INT_MAX, -1},               {{0x00}, 1, INT_MIN, 0},
    };
    for (const FindCase &c : cases) {
        Bytes map = c.map;
        EXPECT_EQ(ext_FindBits(map.data(), static_cast<int>(map.size()), c.nbits, c.skip),
                  c.expected)
            << hex(map.data(), static_cast<int>(map.size())) << "nbits " << c.nbits << " skip "
            << c.skip;
        EXPECT_EQ(map, c.map);
    }
    // Eight full bytes then a free one, at every alignment.
    alignas(8) unsigned char buf[16];
    for (int offset = 0; offset < 8; ++offset) {
        std::memcpy(buf + offset, nine.data(), nine.size());
        EXPECT_EQ(ext_FindBits(buf + offset, 9, 1, 0), 64) << offset;
    }
    unsigned char byte = 0;
    EXPECT_EQ(ext_FindBits(&byte, 0, 1, 0), -1);
    EXPECT_EQ(ext_FindBits(&byte, -1, 1, 0), -1);
    EXPECT_EQ(ext_FindBits(&byte, INT_MIN, 1, 0), -1);
    EXPECT_EQ(ext_FindBits(nullptr, 4, 1, 0), -1);
}

struct RangeCase {
    Bytes before;
    int first, count, set;
    Bytes after;       // ext_SetBits
    int check_before;  // ext_CheckBits on the map before
};

TEST(BitMaps, SetsAndChecksRanges) {
    const RangeCase cases[] = {
        {{0x00, 0x00}, 3, 7, 1, {0xF8, 0x03}, 0},
        {{0xFF, 0xFF}, 3, 7, 0, {0x07, 0xFC}, 0},
        {{0xF8, 0x03}, 3, 7, 1, {0xF8, 0x03}, 1},
        {{0xF8, 0x03}, 3, 8, 1, {0xF8, 0x07}, 0},
        {{0x07, 0xFC}, 3, 7, 0, {0x07, 0xFC}, 1},
        {{0x07, 0xFC}, 2, 7, 0, {0x03, 0xFC}, 0},
        {{0x00, 0x00}, 3, 0, 1, {0x00, 0x00}, 0},
        {{0x00}, 6, 4, 1, {0xC0}, 0},
        {{0xC0}, 6, 4, 7, {0xC0}, 1},
        {{0x00}, 8, 1, 1, {0x00}, 1},
        {{0x00}, 8, 0, 1, {0x00}, 0},
        {{0x00}, -1, 4, 1, {0x00}, 0},
        {{0x00}, 0, -1, 1, {0x00}, 0},
        {{0x00, 0x00, 0x00}, 5, INT_MAX, 1, {0x00, 0x00, 0x00}, 1},
        {{0x00, 0x00, 0x00}, 5, INT_MAX - 4, 1, {0xE0, 0xFF, 0xFF}, 0},
        {{0xFF, 0xFF, 0xFF}, 0, INT_MAX, 0, {0x00, 0x00, 0x00}, 0},
        {{0xFF, 0xFF, 0xFF}, 1, INT_MAX, 0, {0x01, 0x00, 0x00}, 0},
        {{0xFF, 0xFF, 0xFF}, 2, INT_MAX, 0, {0xFF, 0xFF, 0xFF}, 1},
        {{0xFF, 0xFF, 0xFF}, INT_MAX, 1, 0, {0xFF, 0xFF, 0xFF}, 1},
        {{0xFF, 0xFF, 0xFF}, 0, INT_MIN, 0, {0xFF, 0xFF, 0xFF}, 0},
    };
    for (const RangeCase &c : cases) {
        Bytes map = c.before;
        const int size = static_cast<int>(map.size());
        const std::string label = hex(map.data(), size) + "first " + std::to_string(c.first) +
                                  " count " + std::to_string(c.count);
        EXPECT_EQ(ext_CheckBits(map.data(), size, c.first, c.count, c.set), c.check_before)
            << label;
        EXPECT_EQ(map, c.before) << label;
        ext_SetBits(map.data(), size, c.first, c.count, c.set);
        EXPECT_EQ(map, c.after) << label;
        EXPECT_EQ(ext_CheckBits(nullptr, size, c.first, c.count, c.set), 0) << label;
        ext_SetBits(nullptr, size, c.first, c.count, c.set);
    }
    unsigned char byte = 0;
    for (int size : {0, -1, INT_MIN}) {
        ext_SetBits(&byte, size, 0, 8, 1);
        EXPECT_EQ(byte, 0);
        EXPECT_EQ(ext_CheckBits(&byte, size, 0, 8, 0), 0);
    }
}

// A map of stretches of set and clear bits, each stretch as long as the mood of
// the case makes it: long used stretches give full regions, long free ones give
// long runs, short ones scattered bits; or simply random bytes.
Bytes random_map(std::mt19937_64 &rng, int size) {
    Bytes map(static_cast<std::size_t>(size));
    const int mood = static_cast<int>(rng() % 4);
    const int mean_used = 1 << (rng() % 8 + (mood == 0 ? 5 : 0));
    const int mean_free = 1 << (rng() % 6 + (mood == 1 ? 4 : 0));
    bool used = rng() & 1;
    for (int bit = 0; bit < 8 * size;) {
        int length = static_cast<int>(rng() % (2 * (used ? mean_used : mean_free))) + 1;
        for (; length > 0 && bit < 8 * size; --length, ++bit)
            if (used) map[bit >> 3] |= static_cast<unsigned char>(1 << (bit & 7));
        used = !used;
    }
    if (mood == 3)
        for (auto &b : map) b = static_cast<unsigned char>(rng());
    return map;
}

int random_size(std::mt19937_64 &rng) {
    const unsigned pick = rng() % 64;
    if (pick == 0) return -static_cast<int>(rng() % 3);
    if (pick < 4) return static_cast<int>(rng() % 2000) + 65;
    return static_cast<int>(rng() % 65);
}

// A count of bits: small, near the map's bit length, or at the edges of an int.
int random_bits(std::mt19937_64 &rng, int size) {
    size = std::max(size, 0);
    const int edges[] = {INT_MAX, INT_MAX - 1, INT_MIN, -1, 0, 8 * size, 8 * size + 1,
                         8 * size - 1, INT_MAX - 8 * size};
    switch (rng() % 8) {
        case 0: return edges[rng() % std::size(edges)];
        case 1: return static_cast<int>(rng() % (8u * static_cast<unsigned>(size) + 16));
        case 2: return static_cast<int>(rng() % 200);
        case 3:
        case 4: return static_cast<int>(rng() % 9);
        default: return static_cast<int>(rng() % 41);
    }
}

// The maps sit at the end of their own allocation, so that reading past them is
// caught under AddressSanitizer, and at every alignment.
struct PlacedMap {
    std::unique_ptr<unsigned char[]> storage;
    unsigned char *data;
    PlacedMap(const Bytes &bytes, int offset)
        : storage(new unsigned char[bytes.size() + static_cast<std::size_t>(offset)]),
          data(storage.get() + offset) {
        if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    }
};

TEST(BitMaps, MatchesTheReferenceOnRandomMaps) {
    std::mt19937_64 rng(20240611);
    const int rounds = sizeof(void *) == 4 ? 120000 : 300000;
    for (int round = 0; round < rounds; ++round) {
        const int size = random_size(rng);
        const Bytes bytes = random_map(rng, std::max(size, 0));
        PlacedMap placed(bytes, static_cast<int>(rng() % 8));
        unsigned char *map = placed.data;
        const int nbits = random_bits(rng, size);
        const int skip = rng() % 3 ? 0
                         : rng() % 4 ? static_cast<int>(rng() % (std::max(size, 0) + 3))
                                     : random_bits(rng, size);
        const int word_skip = static_cast<int>(rng() & 1);
        ASSERT_EQ(ext_FindBits(map, size, nbits, skip),
                  hv::reference::find_bits(map, size, nbits, skip, word_skip))
            << hex(bytes.data(), size) << " size " << size << " nbits " << nbits << " skip "
            << skip;

        const int first = rng() % 8 ? static_cast<int>(rng() % (8u * std::max(size, 1) + 9))
                                    : random_bits(rng, size);
        const int count = random_bits(rng, size);
        const int set = rng() % 4 ? static_cast<int>(rng() & 1) : static_cast<int>(rng());
        Bytes expected = bytes;
        hv::reference::set_bits(expected.data(), size, first, count, set);
        const int checked = ext_CheckBits(map, size, first, count, set);
        const bool unchanged = std::equal(bytes.begin(), bytes.end(), map);
        ext_SetBits(map, size, first, count, set);
        const bool set_as_expected = std::equal(expected.begin(), expected.end(), map);
        ASSERT_TRUE(checked == hv::reference::check_bits(bytes.data(), size, first, count, set) &&
                    unchanged && set_as_expected)
            << hex(bytes.data(), size) << " size " << size << " first " << first << " count "
            << count << " set " << set << ": checked " << checked << ", changed by the check "
            << !unchanged << ", set to " << hex(map, size);
    }
}

// Every map of two bytes, where the windows cross the byte boundary.
TEST(BitMaps, MatchesTheReferenceOnEveryTwoByteMap) {
    for (unsigned value = 0; value < 0x10000; ++value) {
        unsigned char map[2] = {static_cast<unsigned char>(value),
                                static_cast<unsigned char>(value >> 8)};
        for (int nbits = 1; nbits <= 17; ++nbits)
            for (int skip = 0; skip <= 2; ++skip)
                ASSERT_EQ(ext_FindBits(map, 2, nbits, skip),
                          hv::reference::find_bits(map, 2, nbits, skip))
                    << hex(map, 2) << "nbits " << nbits << " skip " << skip;
    }
}

// Maps between two inaccessible pages: a read before or past the map faults in
// every build, not only under AddressSanitizer.
TEST(BitMaps, ReadsNothingOutsideTheMap) {
    const long page = sysconf(_SC_PAGESIZE);
    auto *area = static_cast<unsigned char *>(
        mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(area, page, PROT_NONE), 0);
    ASSERT_EQ(mprotect(area + 2 * page, page, PROT_NONE), 0);
    std::mt19937_64 rng(7);
    for (int size = 1; size <= 40; ++size) {
        for (unsigned char *map : {area + page, area + 2 * page - size}) {
            const Bytes bytes = random_map(rng, size);
            std::memcpy(map, bytes.data(), bytes.size());
            for (int nbits = 1; nbits <= 8 * size + 1; ++nbits)
                for (int skip = 0; skip <= size; ++skip)
                    ASSERT_EQ(ext_FindBits(map, size, nbits, skip),
                              hv::reference::find_bits(map, size, nbits, skip));
            EXPECT_EQ(ext_CheckBits(map, size, 0, INT_MAX, 0),
                      hv::reference::check_bits(map, size, 0, INT_MAX, 0));
            ext_SetBits(map, size, 1, INT_MAX - 1, 1);
            EXPECT_EQ(ext_CheckBits(map, size, 1, 8 * size + 100, 1), 1);
        }
    }
    munmap(area, 3 * page);
}

// Bit indexes past INT_MAX cannot be returned: a run that begins there is not found.
TEST(BitMaps, FindsNothingBeyondTheLargestBitIndex) {
    const int size = (1 << 28) + 1;
    auto *map = static_cast<unsigned char *>(
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(map, MAP_FAILED);
    std::memset(map, 0xFF, size - 1);
    map[size - 1] = 0;
    EXPECT_EQ(ext_FindBits(map, size, 1, 0), -1);
    EXPECT_EQ(ext_FindBits(map, size, 8, 0), -1);
    EXPECT_EQ(ext_CheckBits(map, size, INT_MAX, 1, 1), 1);
    ext_SetBits(map, size, INT_MAX, 1, 0);
    EXPECT_EQ(map[size - 2], 0x7F);
    EXPECT_EQ(ext_FindBits(map, size, 1, 0), INT_MAX);
    EXPECT_EQ(ext_FindBits(map, size, 1, 1), -1);
    EXPECT_EQ(ext_FindBits(map, size, 2, 0), INT_MAX);
    munmap(map, size);
}

}  // namespace
