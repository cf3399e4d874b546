// CRC-16: published check values, then every length and alignment against the
// bit-by-bit reference.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "hv_ext.h"
#include "reference_text.h"

namespace {

const unsigned char *bytes(const char *text) { return reinterpret_cast<const unsigned char *>(text); }

TEST(Crc16, GivesTheCheckValuesWithTheirBytesExchanged) {
    EXPECT_EQ(ext_CRC16(bytes("123456789"), 9), 0x6E90);  // CRC-16/X-25 check 0x906E
    EXPECT_EQ(ext_CRC16(bytes("abc"), 3), 0x259E);
    EXPECT_EQ(ext_CRC16(bytes("\0"), 1), hv::reference::crc16(bytes("\0"), 1));
    EXPECT_EQ(ext_CRC16(bytes("x"), 0), 0);
    EXPECT_EQ(ext_CRC16(bytes("x"), -1), 0);
    EXPECT_EQ(ext_CRC16(bytes("x"), -2147483647 - 1), 0);
    EXPECT_EQ(ext_CRC16(nullptr, 5), 0);
}

// Every length from 0 to 4,096 at every offset from an 8-byte boundary, each
// compared with the reference run over the same bytes.
TEST(Crc16, AgreesWithTheBitwiseReference) {
    constexpr int kMaxLength = 4096;
    constexpr int kAlignments = 8;
    std::mt19937 rng(7);
    std::vector<unsigned char> data(kMaxLength);
    for (unsigned char &byte : data) byte = static_cast<unsigned char>(rng());

    // The reference over each prefix, one byte at a time.
    std::vector<int> expected(kMaxLength + 1, 0);
    std::uint16_t crc = 0xFFFF;
    for (int length = 1; length <= kMaxLength; ++length) {
        crc = hv::reference::crc16_update(crc, data[static_cast<std::size_t>(length - 1)]);
        expected[static_cast<std::size_t>(length)] = hv::reference::crc16_finish(crc);
    }
    ASSERT_EQ(expected[kMaxLength], hv::reference::crc16(data.data(), kMaxLength));

    // Each run gets an allocation of exactly the bytes it may read.
    for (int length = 0; length <= kMaxLength; ++length) {
        for (int alignment = 0; alignment < kAlignments; ++alignment) {
            const std::unique_ptr<unsigned char[]> buffer(
                new unsigned char[static_cast<std::size_t>(alignment + length)]);
            unsigned char *at = buffer.get() + alignment;
            std::copy(data.begin(), data.begin() + length, at);
            ASSERT_EQ(ext_CRC16(at, length), expected[static_cast<std::size_t>(length)])
                << "length " << length << " alignment " << alignment;
        }
    }
}

}  // namespace
