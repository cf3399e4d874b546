// Bit maps of free (clear) and used (set) units: bit b lives in byte b >> 3 under
// the mask 1 << (b & 7). The search reads the map a machine word at a time: on a
// little-endian machine a loaded word is a stretch of the map with bit b of the
// map at bit b of the word, so runs are found with shifts and countr_zero, and
// full regions are passed over a block of words at a time.

#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hv_ext.h"

namespace hv::text {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the word-wise search assumes little-endian loads");

using Word = std::uintptr_t;
constexpr int kWordBytes = sizeof(Word);
constexpr int kBlockWords = 8;
constexpr int kBlockBytes = kBlockWords * kWordBytes;
constexpr Word kAllOnes = ~Word{0};
constexpr Word kLowBits = kAllOnes / 0xFF;  // 0x01 in every byte
constexpr Word kHighBits = kLowBits << 7;   // 0x80 in every byte

Word load(const unsigned char *p) {
    Word w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// The bytes from i to the end of a map larger than a word, fewer than a word, as a
// word whose missing high bytes are full: nothing beyond the map is free.
Word load_tail(const unsigned char *map, int i, int size) {
    const int left = size - i;
    return load(map + size - kWordBytes) >> (8 * (kWordBytes - left)) | kAllOnes << (8 * left);
}

// A whole map of at most a word, padded as load_tail pads, read with as few loads
// as may overlap: short maps are common and a byte loop would cost more than the
// search.
Word load_small_map(const unsigned char *map, int size) {
    if (size == kWordBytes) return load(map);
    Word w;
    if (kWordBytes == 8 && size >= 4) {
        std::uint32_t low, high;
        std::memcpy(&low, map, 4);
        std::memcpy(&high, map + size - 4, 4);
        w = low | Word{high} << (8 * (size - 4));
    } else {
        const int middle = size / 2;
        w = map[0] | Word{map[middle]} << (8 * middle) | Word{map[size - 1]} << (8 * (size - 1));
    }
    return w | kAllOnes << (8 * size);
}

// 0x80 in each byte of x that is not zero, 0 in the others (no carry crosses bytes).
Word nonzero_bytes(Word x) { return (((x & ~kHighBits) + ~kHighBits) | x) & kHighBits; }

int first_flagged_byte(Word flags) { return std::countr_zero(flags) / 8; }

// How many bytes carry a flag of nonzero_bytes.
int flagged_bytes(Word flags) {
    return static_cast<int>(((flags >> 7) * kLowBits) >> (8 * (kWordBytes - 1)));
}

// True when the block of kBlockBytes at p is all 0xFF. The words are ANDed in
// pairs, not in a chain, so that the loads and ANDs can run side by side.
bool full_block(const unsigned char *p) {
    Word w[kBlockWords];
    for (int j = 0; j < kBlockWords; ++j) w[j] = load(p + j * kWordBytes);
    for (int width = kBlockWords / 2; width > 0; width /= 2)
        for (int j = 0; j < width; ++j) w[j] &= w[j + width];
    return w[0] == kAllOnes;
}

// The index of the first byte in [i, end) that is not 0xFF, or end.
int next_nonfull(const unsigned char *map, int i, int end) {
    while (end - i >= kBlockBytes && full_block(map + i)) i += kBlockBytes;
    for (; end - i >= kWordBytes; i += kWordBytes)
        if (const Word vacant = ~load(map + i))
            return i + first_flagged_byte(nonzero_bytes(vacant));
    if (i >= end) return i;
    if (end >= kWordBytes) {
        // The last bytes before end, as the high end of the word that ends there.
        const int left = end - i;
        const Word vacant = ~load(map + end - kWordBytes) >> (8 * (kWordBytes - left));
        return vacant ? i + first_flagged_byte(nonzero_bytes(vacant)) : end;
    }
    while (i < end && map[i] == 0xFF) ++i;
    return i;
}

// The index of the first byte in [i, end) that is 0, or end.
int next_zero(const unsigned char *map, int i, int end) {
    for (;;) {
        i = next_nonfull(map, i, end);
        if (end - i < kWordBytes) break;
        if (const Word zero = ~nonzero_bytes(load(map + i)) & kHighBits)
            return i + first_flagged_byte(zero);
        i += kWordBytes;
    }
    while (i < end && map[i] != 0) ++i;
    return i;
}

// The index of the first byte in [i, end) that is not 0, or end.
int next_nonzero(const unsigned char *map, int i, int end) {
    for (; end - i >= kWordBytes; i += kWordBytes)
        if (const Word used = load(map + i)) return i + first_flagged_byte(nonzero_bytes(used));
    while (i < end && map[i] == 0) ++i;
    return i;
}

// Bit b set where bits b, b + step, ... b + (n - 1) * step of x are all set, by
// doubling the run.
Word runs_of(Word x, int n, int step = 1) {
    int length = 1;
    for (; length * 2 <= n; length *= 2) x &= x >> (length * step);
    if (length < n) x &= x >> ((n - length) * step);
    return x;
}

// A bit index that does not fit an int cannot be reported: no run is found there.
int bit_index(int byte, int bit) {
    const std::int64_t index = std::int64_t{byte} * 8 + bit;
    return index > INT_MAX ? -1 : static_cast<int>(index);
}

// The byte after the skip-th non-full byte below lim, or -1 when there are fewer.
int start_after_skip(const unsigned char *map, int lim, int skip) {
    int i = 0;
    for (; lim - i >= kWordBytes; i += kWordBytes) {
        Word nonfull = nonzero_bytes(~load(map + i));
        const int here = flagged_bytes(nonfull);
        if (skip <= here) {
            while (--skip > 0) nonfull &= nonfull - 1;
            return i + first_flagged_byte(nonfull) + 1;
        }
        skip -= here;
    }
    for (; i < lim; ++i)
        if (map[i] != 0xFF && --skip == 0) return i + 1;
    return -1;
}

// The run wanted. One of 9 bits or more begins on a byte: k whole zero bytes,
// then a byte whose low bits under mask are clear. lim is the number of bytes it
// can begin at.
struct Run {
    int nbits;
    int k;
    unsigned mask;
    int lim;
};

Run run_of(int size, int nbits) {
    const int k = (nbits - 1) >> 3;
    return {nbits, k, (1u << (nbits - 8 * k)) - 1, size - k};
}

// The bit position in w of the first run in it, or -1: runs of up to 8 bits may
// begin at any bit and cross a byte boundary, longer ones begin on a byte.
int first_run_in(Word w, const Run &run) {
    if (run.nbits <= 8) {
        const Word runs = runs_of(~w, run.nbits);
        return runs ? std::countr_zero(runs) : -1;
    }
    Word runs = runs_of(~nonzero_bytes(w) & kHighBits, run.k, 8);  // of zero bytes
    if (runs == 0) return -1;
    runs &= (~nonzero_bytes(w & (run.mask * kLowBits)) & kHighBits) >> (8 * run.k);
    return runs ? 8 * first_flagged_byte(runs) : -1;
}

// The word from byte i of a map larger than a word; past the end of the map it
// reads as full.
Word window(const unsigned char *map, int size, int i) {
    return size - i >= kWordBytes ? load(map + i) : load_tail(map, i, size);
}

// Window after window, each deciding the runs that begin in its first `stride`
// bytes: a short run that begins there ends inside the window, and so do the
// k + 1 bytes of a long one. After a full window the search moves on to the next
// byte that is not full.
int find_by_windows(const unsigned char *map, int size, const Run &run, int start) {
    const int stride = run.nbits <= 8 ? kWordBytes - 1 : kWordBytes - run.k;
    for (int i = start;;) {
        const Word w = window(map, size, i);
        const int found = first_run_in(w, run);
        if (found >= 0) return bit_index(i, found);
        if (size - i <= kWordBytes) return -1;
        i = w == kAllOnes ? next_nonfull(map, i + kWordBytes, run.lim) : i + stride;
        if (i >= run.lim) return -1;
    }
}

// Runs of 9 bits or more from byte start. In a map of more than a few words, by
// windows while a run fits half a word; else a byte-aligned candidate after
// another, where a failing byte rules out every candidate that would hold it as a
// whole byte. In a map of a few words (kFewWords) the candidates are found with
// plain byte steps, which cost less there than setting up word-wise ones.
template <bool kFewWords>
[[gnu::noinline]] int find_long_run(const unsigned char *map, int size, int nbits, int start) {
    const Run run = run_of(size, nbits);
    if (!kFewWords && run.k <= kWordBytes / 2) return find_by_windows(map, size, run, start);
    for (int i = start;;) {
        if constexpr (kFewWords) {
            while (i < run.lim && map[i] != 0) ++i;
        } else {
            i = next_zero(map, i, run.lim);
        }
        if (i >= run.lim) return -1;
        int used = i + 1;
        if constexpr (kFewWords) {
            while (used < i + run.k && map[used] == 0) ++used;
        } else {
            used = next_nonzero(map, used, i + run.k);
        }
        if (used < i + run.k) {
            i = used + 1;
        } else if (map[i + run.k] & run.mask) {
            i += run.k + 1;
        } else {
            return bit_index(i, 0);
        }
    }
}

// Runs of 9 bits or more from byte start.
int find_long(const unsigned char *map, int size, int nbits, int start) {
    if (size <= 2 * kWordBytes) return find_long_run<true>(map, size, nbits, start);
    return find_long_run<false>(map, size, nbits, start);
}

// Runs of up to 8 bits from byte start, in a map larger than a word.
[[gnu::noinline]] int find_short(const unsigned char *map, int size, int nbits, int start) {
    return find_by_windows(map, size, run_of(size, nbits), start);
}

// Runs of up to 8 bits in a map that fits a word, from byte start. The bytes
// beyond the map count as full.
int find_short_in_word(const unsigned char *map, int size, int nbits, int start) {
    if (nbits == 1) {  // the commonest request, and cheaper byte by byte here
        for (int i = start; i < size; ++i)
            if (map[i] != 0xFF) return 8 * i + std::countr_one(map[i]);
        return -1;
    }
    const Word before_start = start > 0 ? kAllOnes >> (8 * (kWordBytes - start)) : 0;
    const Word runs = runs_of(~(load_small_map(map, size) | before_start), nbits);
    return runs ? std::countr_zero(runs) : -1;
}

[[gnu::noinline]] int find_after_skip(const unsigned char *map, int size, int nbits,
                                      int skip) {
    const int lim = run_of(size, nbits).lim;
    const int start = start_after_skip(map, lim, skip);
    if (start < 0 || start >= lim) return -1;
    if (nbits > 8) return find_long(map, size, nbits, start);
    if (size <= kWordBytes) return find_short_in_word(map, size, nbits, start);
    return find_short(map, size, nbits, start);
}

// The bytes of a range of bits that lie in the map: its first byte under
// head_mask, the whole bytes up to whole_end, and its last byte under tail_mask
// when that is another byte inside the map (else tail_byte is -1).
struct Range {
    int first_byte;
    int whole_end;
    int tail_byte;
    unsigned head_mask;
    unsigned tail_mask;
};

enum class Extent { kInvalid, kOutsideMap, kInMap };

Extent range_of(int size, int first, int count, Range &range) {
    if (count < 1 || size < 1 || first < 0) return Extent::kInvalid;
    // The end of the range as 32-bit arithmetic has it: past INT_MAX it wraps below
    // the start, and the range is taken to lie outside the map.
    const std::int64_t last = std::int64_t{first} + count - 1;
    if (last > INT_MAX || (first >> 3) >= size) return Extent::kOutsideMap;
    const int first_byte = first >> 3;
    const int last_byte = static_cast<int>(last >> 3);
    const unsigned head_mask = (0xFFu << (first & 7)) & 0xFF;
    const unsigned tail_mask = 0xFFu >> (7 - (last & 7));
    if (last_byte == first_byte) {
        range = {first_byte, first_byte, -1, head_mask & tail_mask, 0};
    } else {
        range = {first_byte, last_byte < size ? last_byte : size,
                 last_byte < size ? last_byte : -1, head_mask, tail_mask};
    }
    return Extent::kInMap;
}

void apply(unsigned char &byte, unsigned mask, bool set) {
    byte = static_cast<unsigned char>(set ? byte | mask : byte & ~mask);
}

bool holds(unsigned char byte, unsigned mask, bool set) {
    return (byte & mask) == (set ? mask : 0);
}

// True when every byte of [i, end) equals value (0 or 0xFF).
bool all_bytes(const unsigned char *map, int i, int end, unsigned char value) {
    const Word want = value ? kAllOnes : 0;
    for (; end - i >= kWordBytes; i += kWordBytes)
        if (load(map + i) != want) return false;
    for (; i < end; ++i)
        if (map[i] != value) return false;
    return true;
}

}  // namespace
}  // namespace hv::text

using namespace hv::text;

// The paths out of line are reached by tail calls, so that the common cases of a
// small map or a run early in the map take no set-up.
extern "C" int ext_FindBits(unsigned char *map, int size, int nbits, int skip) noexcept {
    if (map == nullptr || nbits < 1 || size < 1) return -1;
    if (size - ((nbits - 1) >> 3) <= 0) return -1;  // no byte a run could begin at
    if (skip > 0) return find_after_skip(map, size, nbits, skip);
    // Without a skip the search starts at byte 0: the searches pass over full bytes
    // anyway, so skipping leading full words first would change nothing.
    if (nbits > 8) return find_long(map, size, nbits, 0);
    if (size <= kWordBytes) return find_short_in_word(map, size, nbits, 0);
    if (const Word runs = runs_of(~load(map), nbits)) return std::countr_zero(runs);
    // No run begins in the first kWordBytes - 1 bytes.
    return find_short(map, size, nbits, kWordBytes - 1);
}

extern "C" void ext_SetBits(unsigned char *map, int size, int first, int count,
                            int set) noexcept {
    Range range;
    if (map == nullptr || range_of(size, first, count, range) != Extent::kInMap) return;
    const int fb = range.first_byte;
    apply(map[fb], range.head_mask, set != 0);
    if (range.whole_end > fb + 1)
        std::memset(map + fb + 1, set ? 0xFF : 0,
                    static_cast<std::size_t>(range.whole_end - fb - 1));
    if (range.tail_byte >= 0) apply(map[range.tail_byte], range.tail_mask, set != 0);
}

extern "C" int ext_CheckBits(unsigned char *map, int size, int first, int count,
                             int set) noexcept {
    Range range;
    if (map == nullptr) return 0;
    switch (range_of(size, first, count, range)) {
        case Extent::kInvalid: return 0;
        case Extent::kOutsideMap: return 1;
        case Extent::kInMap: break;
    }
    const bool want = set != 0;
    const int fb = range.first_byte;
    return holds(map[fb], range.head_mask, want) &&
                   all_bytes(map, fb + 1, range.whole_end, want ? 0xFF : 0) &&
                   (range.tail_byte < 0 || holds(map[range.tail_byte], range.tail_mask, want))
               ? 1
               : 0;
}
