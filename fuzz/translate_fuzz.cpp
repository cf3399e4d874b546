// ext_TranslateChars. Input: the string, a NUL, from, a NUL, to. Where the caller
// keeps its side of the contract (to at least as long as from, no chain of
// replacements that comes back on itself) the result must equal the plain
// rescanning loop; elsewhere it must only return the length and stay in bounds.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hv_ext.h"
#include "fuzz_support.h"

namespace {

// The rescanning loop costs up to 256 passes over the string per character.
constexpr std::size_t kReferenceLength = 256;

// True when no chain of replacements starting at a character of from comes back.
bool chains_end(const char *from, const char *to) {
    for (const char *start = from; *start != '\0'; ++start) {
        char c = *start;
        int steps = 0;
        for (const char *at; (at = std::strchr(from, c)) != nullptr; c = to[at - from])
            if (++steps > 256) return false;
    }
    return true;
}

void rescan(char *str, const char *from, const char *to) {
    const std::size_t length = std::strlen(str);
    for (std::size_t n; (n = std::strcspn(str, from)) < length;)
        str[n] = to[std::strchr(from, str[n]) - from];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace hv::fuzz;
    Bytes in{data, size};
    const Text str(take_part(in));
    const Text from(take_part(in));
    const Text to(in);
    const Text expected(str.bytes());
    const int length = ext_TranslateChars(str.get(), from.get(), to.get());
    if (length != static_cast<int>(std::strlen(expected.get())) ||
        std::strlen(str.get()) != std::strlen(expected.get()))
        mismatch("ext_TranslateChars: the length");
    if (std::strlen(to.get()) < std::strlen(from.get()) || !chains_end(from.get(), to.get()) ||
        std::strlen(expected.get()) > kReferenceLength)
        return 0;
    rescan(expected.get(), from.get(), to.get());
    if (std::strcmp(str.get(), expected.get()) != 0)
        mismatch("ext_TranslateChars and the rescanning loop differ");
    return 0;
}
