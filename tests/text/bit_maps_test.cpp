// Bit maps: the rows that pin each rule down, and the largest bit index.

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "hv_ext.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(BitMaps, FindsTheFirstFit) {
    const std::tuple<Bytes, int, int, int> rows[] = {  // map, nbits, skip, result
        {{0xFF, 0xFF, 0x0F, 0x00}, 1, 0, 20}, {{0xFF, 0xFF, 0x0F, 0x00}, 5, 0, 20},
        {{0xFF, 0xFF, 0x0F, 0x00}, 8, 0, 20}, {{0xFF, 0xFF, 0x0F, 0x00}, 9, 0, -1},
        {{0xFF, 0xFF, 0x0F, 0x00}, 1, 1, 24}, {{0xFF, 0xFF, 0x0F, 0x00}, 1, 2, -1},
        {{0xFF, 0xFF, 0x0F, 0x00}, 1, -5, 20}, {{0x00, 0xFF, 0x00}, 1, 1, 16},
        {{0x00, 0xFF, 0x00}, 1, 2, -1}, {{0x0F, 0xF0}, 8, 0, 4}, {{0x0F, 0xF0}, 9, 0, -1},
        {{0x00, 0xFE}, 9, 0, 0}, {{0x00, 0x01}, 9, 0, -1}, {{0x00, 0x00}, 16, 0, 0},
        {{0x00, 0x00}, 17, 0, -1}, {{0x00, 0x00, 0x00}, 17, 0, 0}, {{0x00, 0x00, 0x01}, 17, 0, -1},
        {{0xFF, 0x3F}, 2, 0, 14}, {{0x7F, 0x00}, 3, 0, 7}, {{0xAA, 0x00}, 3, 0, 8},
        {{0x00, 0x00, 0xFF, 0x00, 0x00}, 16, 1, 24}, {{0x00, 0x00, 0xFF, 0x00, 0x00}, 16, 3, -1},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF}, 1, 0, 56},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFC, 0xFF, 0xFF}, 3, 0, 55},
        {{0x00}, 0, 0, -1}, {{0x00}, INT_MIN, 0, -1}, {{0x00}, INT_MAX, 1, -1},
        {{0x00}, 1, INT_MAX, -1}, {{0x00}, 1, INT_MIN, 0}, {{0x55, 0x00}, 3, 0, 7},
    };
    for (auto [map, nbits, skip, result] : rows)
        EXPECT_EQ(ext_FindBits(map.data(), static_cast<int>(map.size()), nbits, skip), result)
            << testing::PrintToString(map) << " nbits " << nbits << " skip " << skip;
    Bytes buf(17, 0xFF);  // eight full bytes, then a free one, at every alignment
    for (int offset = 8; offset-- > 0;) {  // downwards: each zero lies past the next window
        buf[offset + 8] = 0;
        EXPECT_EQ(ext_FindBits(buf.data() + offset, 9, 1, 0), 64) << offset;
    }
    for (int size : {0, -1, INT_MIN}) EXPECT_EQ(ext_FindBits(buf.data(), size, 1, 0), -1);
    EXPECT_EQ(ext_FindBits(nullptr, 4, 1, 0), -1);
}

TEST(BitMaps, SetsAndChecksRanges) {
    // map, first, count, set, the map after ext_SetBits, ext_CheckBits on the map before
    const std::tuple<Bytes, int, int, int, Bytes, int> rows[] = {
        {{0x00, 0x00}, 3, 7, 1, {0xF8, 0x03}, 0}, {{0xFF, 0xFF}, 3, 7, 0, {0x07, 0xFC}, 0},
        {{0xF8, 0x03}, 3, 8, 1, {0xF8, 0x07}, 0}, {{0xF8, 0x03}, 3, 7, 1, {0xF8, 0x03}, 1},
        {{0x07, 0xFC}, 3, 7, 0, {0x07, 0xFC}, 1}, {{0x07, 0xFC}, 2, 7, 0, {0x03, 0xFC}, 0},
        {{0x00, 0x00}, 3, 0, 1, {0x00, 0x00}, 0}, {{0x00}, 6, 4, 1, {0xC0}, 0},
        {{0xC0}, 6, 4, 7, {0xC0}, 1}, {{0x00}, 8, 1, 1, {0x00}, 1}, {{0x00}, -1, 4, 1, {0x00}, 0},
        {{0x00}, 0, -1, 1, {0x00}, 0}, {{0x00, 0x00, 0x00}, 5, INT_MAX, 1, {0x00, 0x00, 0x00}, 1},
        {{0x00, 0x00, 0x00}, 5, INT_MAX - 4, 1, {0xE0, 0xFF, 0xFF}, 0},
        {{0xFF, 0xFF, 0xFF}, 1, INT_MAX, 0, {0x01, 0x00, 0x00}, 0},
        {{0xFF, 0xFF, 0xFF}, 2, INT_MAX, 0, {0xFF, 0xFF, 0xFF}, 1},
        {{0xFF, 0xFF, 0xFF}, INT_MAX, 1, 0, {0xFF, 0xFF, 0xFF}, 1},
        {{0xFF, 0xFF, 0xFF}, 0, INT_MIN, 0, {0xFF, 0xFF, 0xFF}, 0},
    };
    for (auto [map, first, count, set, after, check] : rows) {
        SCOPED_TRACE(testing::PrintToString(std::make_tuple(map, first, count, set)));
        const int size = static_cast<int>(map.size());
        EXPECT_EQ(ext_CheckBits(map.data(), size, first, count, set), check);
        ext_SetBits(map.data(), size, first, count, set);
        EXPECT_EQ(map, after);
        EXPECT_EQ(ext_CheckBits(nullptr, size, first, count, set), 0);
    }
}

// Bit indexes past INT_MAX cannot be returned: a run that begins there is not found.
TEST(BitMaps, FindsNothingBeyondTheLargestBitIndex) {
    const int size = (1 << 28) + 1;
    Bytes map(size, 0xFF);
    map.back() = 0;
    EXPECT_EQ(ext_FindBits(map.data(), size, 1, 0), -1);
    EXPECT_EQ(ext_FindBits(map.data(), size, 8, 0), -1);
    ext_SetBits(map.data(), size, INT_MAX, 1, 0);
    EXPECT_EQ(map[size - 2], 0x7F);
    EXPECT_EQ(ext_FindBits(map.data(), size, 1, 0), INT_MAX);
    EXPECT_EQ(ext_FindBits(map.data(), size, 1, 1), -1);
}

}  // namespace
