// CRC-16/X-25 (reflected polynomial 0x8408, register starting at 0xFFFF, final
// complement), returned with its two bytes exchanged. Eight bytes per step through
// eight tables built at compile time ("slicing by 8"): each table gives a byte's
// effect on the register when that many more bytes follow it.

#include <array>
#include <cstddef>
#include <cstdint>

#include "hv_ext.h"

namespace hv::text {
namespace {

constexpr std::uint16_t kPolynomial = 0x8408;
constexpr int kSlices = 8;

using Table = std::array<std::uint16_t, 256>;

constexpr std::array<Table, kSlices> make_tables() {
    std::array<Table, kSlices> tables{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ kPolynomial : crc >> 1;
        tables[0][byte] = static_cast<std::uint16_t>(crc);
    }
    for (int slice = 1; slice < kSlices; ++slice)
        for (unsigned byte = 0; byte < 256; ++byte) {
            const unsigned previous = tables[slice - 1][byte];
            tables[slice][byte] =
                static_cast<std::uint16_t>((previous >> 8) ^ tables[0][previous & 0xFF]);
        }
    return tables;
}

constexpr std::array<Table, kSlices> kTables = make_tables();

std::uint16_t update(std::uint16_t crc, const unsigned char *data, std::size_t length) {
    const Table &t0 = kTables[0];
    while (length >= kSlices) {
        const unsigned head = crc ^ (data[0] | (data[1] << 8));
        crc = static_cast<std::uint16_t>(
            kTables[7][head & 0xFF] ^ kTables[6][head >> 8] ^ kTables[5][data[2]] ^
            kTables[4][data[3]] ^ kTables[3][data[4]] ^ kTables[2][data[5]] ^
            kTables[1][data[6]] ^ t0[data[7]]);
        data += kSlices;
        length -= kSlices;
    }
    for (; length != 0; --length, ++data)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ t0[(crc ^ *data) & 0xFF]);
    return crc;
}

}  // namespace
}  // namespace hv::text

extern "C" int ext_CRC16(const unsigned char *data, int len) noexcept {
    if (data == nullptr || len < 1) return 0;
    const std::uint16_t crc =
        static_cast<std::uint16_t>(hv::text::update(0xFFFF, data, static_cast<std::size_t>(len)) ^ 0xFFFF);
    return (crc >> 8) | ((crc & 0xFF) << 8);
}
