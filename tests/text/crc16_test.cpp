// CRC-16/X-25 with its two bytes exchanged, over eight-byte steps, the tail, or both.

#include <gtest/gtest.h>

#include <climits>

#include "hv_ext.h"

namespace {

TEST(Crc16, GivesTheCheckValuesWithTheirBytesExchanged) {
    const struct {
        const char *data;
        int len, crc;
    } rows[] = {
        {"123456789", 9, 0x6E90}, {"abc", 3, 0x259E}, {"\0", 1, 0x78F0}, {"1234567", 7, 0x37E5},
        {"12345678", 8, 0x6A08}, {"x", 0, 0}, {"x", -1, 0}, {"x", INT_MIN, 0}, {nullptr, 5, 0},
        {"\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 17, 0xE6C7},
        {"The quick brown fox jumps over the lazy dog", 43, 0x5893},
    };
    for (const auto &row : rows)
        EXPECT_EQ(ext_CRC16(reinterpret_cast<const unsigned char *>(row.data), row.len), row.crc)
            << row.len << " bytes of " << (row.data != nullptr ? row.data : "(null)");
}

}  // namespace
