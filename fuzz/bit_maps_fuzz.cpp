// The bit-map routines driven by a byte-coded sequence of calls, each checked
// against the byte-by-byte reference on a model copy of the map.
//
// Input: two bytes for the size (a 16-bit signed number, taken modulo 2,200), one
// for the map's offset from an 8-byte boundary (bits 0-2) and how it is filled
// (bits 3-4: zeros, ones, a repeated pattern of the next byte's count of bytes,
// or stretches of both); then calls, an opcode byte and its numbers each:
// 0 FindBits nbits skip, 1 SetBits first count, 2 CheckBits first count, 3 poke
// position value. The opcode's upper bits are the set flag. A number is one byte:
// 0-199 itself, 200-239 near the map's bit length, 240-247 an edge of int, 248 and
// up the next four bytes.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hv_ext.h"
#include "reference_bit_maps.h"
#include "fuzz_support.h"

namespace {

using namespace hv::fuzz;

constexpr int kMaxSize = 2200;

int take_number(Bytes &in, int size) {
    const unsigned selector = take_byte(in);
    const int bits = 8 * (size > 0 ? size : 0);
    if (selector < 200) return static_cast<int>(selector);
    if (selector < 240) return bits + static_cast<int>(selector) - 220;
    if (selector < 248) {
        const int edges[] = {INT_MAX, INT_MAX - 1, INT_MIN, -1, INT_MAX - bits, bits / 2, -2, 0};
        return edges[selector - 240];
    }
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i) raw = raw << 8 | take_byte(in);
    return static_cast<int>(raw);
}

void fill(unsigned char *map, int size, unsigned mode, Bytes &in) {
    if (mode == 0 || mode == 1) {
        std::memset(map, mode == 0 ? 0 : 0xFF, static_cast<std::size_t>(size));
    } else if (mode == 2) {
        const Bytes pattern{in.data, std::min<std::size_t>(take_byte(in), in.size)};
        in = {in.data + pattern.size, in.size - pattern.size};
        for (int i = 0; i < size; ++i)
            map[i] = pattern.size != 0 ? pattern.data[static_cast<std::size_t>(i) % pattern.size] : 0;
    } else {
        // Alternate stretches of used and free bits, their lengths from a seed.
        std::uint32_t state = take_byte(in) * 2654435761u + 1;
        bool used = false;
        for (int bit = 0; bit < 8 * size; used = !used) {
            state = state * 1103515245u + 12345u;
            for (int length = static_cast<int>(state >> 16) % 97 + 1; length > 0 && bit < 8 * size;
                 --length, ++bit)
                map[bit >> 3] = static_cast<unsigned char>(used ? map[bit >> 3] | 1 << (bit & 7)
                                                                : map[bit >> 3] & ~(1 << (bit & 7)));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size_in) {
    Bytes in{data, size_in};
    const int raw_size = static_cast<std::int16_t>(take_byte(in) | take_byte(in) << 8);
    const int size = raw_size % kMaxSize;
    const unsigned layout = take_byte(in);
    const std::size_t bytes = size > 0 ? static_cast<std::size_t>(size) : 0;
    const std::size_t offset = layout & 7;
    // Nothing beyond the map is allocated: a read past its end is caught.
    auto *storage = static_cast<unsigned char *>(std::malloc(bytes + offset));
    unsigned char *map = bytes + offset != 0 ? storage + offset : nullptr;
    auto *model = static_cast<unsigned char *>(std::malloc(bytes + 1));
    if (bytes != 0) {
        fill(map, size, layout >> 3 & 3, in);
        std::memcpy(model, map, bytes);
    }

    while (in.size != 0) {
        const unsigned op = take_byte(in);
        const int a = take_number(in, size);
        const int b = take_number(in, size);
        const int set = static_cast<int>(op >> 2);
        switch (op & 3) {
        case 0:
            if (ext_FindBits(map, size, a, b) != hv::reference::find_bits(model, size, a, b))
                mismatch("ext_FindBits and the reference differ");
            break;
        case 1:
            ext_SetBits(map, size, a, b, set);
            hv::reference::set_bits(model, size, a, b, set);
            break;
        case 2:
            if (ext_CheckBits(map, size, a, b, set) != hv::reference::check_bits(model, size, a, b, set))
                mismatch("ext_CheckBits and the reference differ");
            break;
        default:
            if (size > 0) {
                const std::size_t at = static_cast<unsigned>(a) % bytes;
                map[at] = model[at] = static_cast<unsigned char>(b);
            }
        }
        if (bytes != 0 && std::memcmp(map, model, bytes) != 0)
            mismatch("the map and its model differ");
    }
    std::free(model);
    std::free(storage);
    return 0;
}
