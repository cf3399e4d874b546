// hvext argv: a command line split into words as the suite's programs split it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext argv <line>\n"
    "\n"
    "Prints the words of <line>, one per line. Words are separated by spaces (not\n"
    "tabs); \"...\" quotes spaces and runs to the end of the line when it is not\n"
    "closed; a backslash makes the next character literal and is dropped at the\n"
    "end. Empty words are not printed.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

}  // namespace

int cmd_argv(int argc, char **argv) {
    int first = 0;
    if (int status = scan_operands(argc, argv, kHelp, &first); status >= 0)
        return status;
    if (argc - first != 1)
        return usage_error(argv[0], "expected one <line> (quote it), got %d operands",
                           argc - first);

    const char *line = argv[first];
    const std::size_t length = std::strlen(line);
    // A word takes at least one character and a separator.
    const std::size_t slots = length / 2 + 2;
    char *buf = static_cast<char *>(std::malloc(length + 1));
    char **words = static_cast<char **>(std::calloc(slots, sizeof *words));
    if (buf == nullptr || words == nullptr) {
        std::free(buf);
        std::free(words);
        complain(argv[0], "out of memory");
        return kExitNo;
    }
    int count = 0;
    ext_ConvStr2ArgV(line, static_cast<int>(slots - 1), buf, &count, words);
    for (int i = 0; i < count; ++i)
        std::puts(words[i]);
    std::free(buf);
    std::free(words);
    return kExitOk;
}

}  // namespace hvext
