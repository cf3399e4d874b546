// ext_ConvStr2ArgV against a word-at-a-time reading of the same rules. Input: one
// byte for maxargs (a signed char), then the command line. buf and argv have
// exactly the room the contract asks for.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hv_ext.h"
#include "fuzz_support.h"

namespace {

// The words of line, each followed by its NUL, one after another in out (room for
// strlen(line) + 1 bytes): spaces outside quotes end a word, quotes are dropped, a
// backslash takes the next character as it is. The number of words.
int reference_words(const char *line, char *out) {
    int words = 0;
    bool in_word = false, quoted = false, escaped = false;
    for (const char *c = line; *c != '\0'; ++c) {
        if (!escaped && *c == '"') {
            quoted = !quoted;
        } else if (!escaped && *c == '\\') {
            escaped = true;
        } else if (!escaped && !quoted && *c == ' ') {
            if (in_word) *out++ = '\0';
            in_word = false;
        } else {
            words += in_word ? 0 : 1;
            in_word = true;
            escaped = false;
            *out++ = *c;
        }
    }
    if (in_word) *out = '\0';
    return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace hv::fuzz;
    Bytes in{data, size};
    const int maxargs = static_cast<signed char>(take_byte(in));
    const Text line(in);
    const std::size_t room = std::strlen(line.get()) + 1;
    char *buf = static_cast<char *>(std::malloc(room));
    char *expected = static_cast<char *>(std::malloc(room));
    const std::size_t slots = maxargs > 0 ? static_cast<std::size_t>(maxargs) + 1 : 1;
    char **argv = static_cast<char **>(std::malloc(slots * sizeof(char *)));

    int argc = -1;
    ext_ConvStr2ArgV(line.get(), maxargs, buf, &argc, argv);
    const int words = reference_words(line.get(), expected);
    const int want = maxargs < 1 ? 0 : words < maxargs ? words : maxargs;
    if (argc != want || argv[argc] != nullptr) mismatch("ext_ConvStr2ArgV: word count");
    const char *word = expected;
    for (int i = 0; i < argc; ++i, word += std::strlen(word) + 1) {
        if (argv[i] < buf || argv[i] >= buf + room || std::strcmp(argv[i], word) != 0)
            mismatch("ext_ConvStr2ArgV: a word");
    }
    std::free(argv);
    std::free(expected);
    std::free(buf);
    return 0;
}
