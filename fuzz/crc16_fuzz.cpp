// ext_CRC16 against the bit-by-bit reference, over the whole input and over its
// tails from every offset up to 8, so that the eight-byte steps meet every
// alignment and every remainder.

#include <cstddef>
#include <cstdint>

#include "hv_ext.h"
#include "reference_text.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size > 1 << 20) return 0;
    const int length = static_cast<int>(size);
    for (int offset = 0; offset <= 8 && offset <= length; ++offset) {
        if (ext_CRC16(data + offset, length - offset) !=
            hv::reference::crc16(data + offset, length - offset))
            hv::fuzz::mismatch("ext_CRC16 and the bitwise CRC differ");
    }
    if (ext_CRC16(data, -length) != 0) hv::fuzz::mismatch("ext_CRC16 of a negative length");
    return 0;
}
