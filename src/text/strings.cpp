// Small string routines: character translation in place, a case-insensitive
// equality test, lower- and upper-case copies, and the splitting of a command line
// into words. Case goes through the C library's tolower()/toupper() of the current
// locale, one byte at a time.

#include <array>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hv_ext.h"

namespace hv::text {
namespace {

using Byte = unsigned char;

// The case-conversion results for callers that pass no buffer: 2,048 characters
// and the NUL. Unguarded by design: each such call overwrites the last.
constexpr std::size_t kCaseBufferSize = 2049;
constinit char g_down_result[kCaseBufferSize] = {};
constinit char g_up_result[kCaseBufferSize] = {};

// What each byte finally becomes under a from/to mapping. A byte is replaced, and
// its replacement again while that is listed in from too, so chains run to their
// end. A chain that would come back to a byte it has passed stops before it (from
// "ab" and to "ba" swap the two), and a listed byte with no counterpart in a short
// to stays as it is.
class Translation {
public:
    Translation(const char *from, const char *to) {
        std::array<Byte, 256> next{};
        std::array<bool, 256> has_next{};
        for (const char *f = from; *f != '\0'; ++f) {
            const Byte b = static_cast<Byte>(*f);
            const bool has_counterpart = to != nullptr && *to != '\0';
            if (!listed_[b]) {  // the first place a byte is listed wins
                listed_[b] = true;
                has_next[b] = has_counterpart;
                if (has_counterpart) next[b] = static_cast<Byte>(*to);
            }
            if (has_counterpart) ++to;
        }
        std::array<Byte, 256> seen_in{};  // which chain last passed a byte, from 1
        Byte chain = 0;
        for (unsigned start = 1; start < 256; ++start) {
            if (!listed_[start]) continue;
            ++chain;  // at most 255 bytes can be listed
            Byte at = static_cast<Byte>(start);
            seen_in[at] = chain;
            while (has_next[at]) {
                const Byte to_byte = next[at];
                if (listed_[to_byte] && seen_in[to_byte] == chain) break;
                at = to_byte;
                if (!listed_[at]) break;
                seen_in[at] = chain;
            }
            final_[start] = at;
        }
    }

    void apply(char *str) const {
        for (; *str != '\0'; ++str) {
            const Byte b = static_cast<Byte>(*str);
            if (listed_[b]) *str = static_cast<char>(final_[b]);
        }
    }

private:
    std::array<bool, 256> listed_{};
    std::array<Byte, 256> final_{};
};

int lower(char c) { return std::tolower(static_cast<Byte>(c)); }
int upper(char c) { return std::toupper(static_cast<Byte>(c)); }

// Converts src into dst through convert, at most limit characters.
template <int (*Convert)(char)>
char *convert_case(char *dst, const char *src, std::size_t limit) {
    std::size_t i = 0;
    if (src != nullptr)
        for (; i < limit && src[i] != '\0'; ++i) dst[i] = static_cast<char>(Convert(src[i]));
    dst[i] = '\0';
    return dst;
}

constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);

// The copy pass of the command-line split: quotes dropped, a backslash making the
// next byte literal, unquoted spaces turned into NULs. The number of bytes written
// before the final NUL.
std::size_t copy_words(const char *str, char *buf) {
    std::size_t o = 0;
    bool escaped = false;
    bool quoted = false;
    for (; *str != '\0'; ++str) {
        const char c = *str;
        if (escaped) {
            buf[o++] = c;
            escaped = false;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == ' ') {
            buf[o++] = quoted ? ' ' : '\0';
        } else {
            buf[o++] = c;
        }
    }
    buf[o] = '\0';
    return o;
}

}  // namespace
}  // namespace hv::text

using namespace hv::text;

extern "C" int ext_TranslateChars(char *str, const char *from, const char *to) noexcept {
    if (str == nullptr) return 0;
    const std::size_t length = std::strlen(str);
    if (from != nullptr && *from != '\0' && length != 0) Translation(from, to).apply(str);
    return static_cast<int>(length);
}

extern "C" int ext_cicmp(const char *a, const char *b, int n) noexcept {
    if (a == nullptr && b == nullptr) return 0;
    if (n < 1) return 0;
    if (a == nullptr || b == nullptr) return 1;
    for (int i = 0; i < n; ++i) {
        if (upper(a[i]) != upper(b[i])) return 1;
        if (a[i] == '\0') return 0;
    }
    return 0;
}

extern "C" char *ext_DownString(char *dst, const char *src) noexcept {
    if (dst == nullptr) return convert_case<lower>(g_down_result, src, kCaseBufferSize - 1);
    return convert_case<lower>(dst, src, kUnlimited);
}

extern "C" char *ext_UpString(char *dst, const char *src) noexcept {
    if (dst == nullptr) return convert_case<upper>(g_up_result, src, kCaseBufferSize - 1);
    return convert_case<upper>(dst, src, kUnlimited);
}

extern "C" void ext_ConvStr2ArgV(const char *str, int maxargs, char *buf, int *argcp,
                                 char **argv) noexcept {
    const std::size_t length = buf != nullptr ? copy_words(str != nullptr ? str : "", buf) : 0;
    if (argcp != nullptr) *argcp = 0;
    if (argv == nullptr) return;
    argv[0] = nullptr;
    if (length == 0 || maxargs < 1) return;

    int count = 0;
    for (std::size_t i = 0; i < length && count < maxargs; ++i)
        if (buf[i] != '\0' && (i == 0 || buf[i - 1] == '\0')) argv[count++] = buf + i;
    argv[count] = nullptr;
    if (argcp != nullptr) *argcp = count;
}
