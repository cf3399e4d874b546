// hvext glob: whether strings match a shell-style wildcard pattern.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext glob [-i] <pattern> <string>...\n"
    "\n"
    "Exits with status 0 when every <string> matches the whole <pattern>, 1 when\n"
    "one does not; prints nothing. The pattern, as the suite's programs read it:\n"
    "  *        any run of characters, also none, '/' and a leading '.' included\n"
    "  ?        any one character\n"
    "  [...]    one character among the members: 'a-z' ranges in either order,\n"
    "           no negation ('!' and '^' are members), ']' first never matches\n"
    "  \\c       the character c itself (outside [...] only)\n"
    "Bytes above 0x7F order below the ASCII characters in ranges.\n"
    "\n"
    "Options:\n"
    "  -i, --ignore-case  compare through tolower() of the locale (LC_CTYPE)\n"
    "  -h, --help         display this help and exit\n"
    "\n"
    "Put '--' before a pattern that begins with '-'.\n";

}  // namespace

int cmd_glob(int argc, char **argv) {
    bool ignore_case = false;
    int i = 1;
    for (; i < argc; ++i) {
        const char *arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0')
            break;
        if (std::strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (is_help_option(arg)) {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (std::strcmp(arg, "-i") != 0 && std::strcmp(arg, "--ignore-case") != 0)
            return usage_error(argv[0], "unknown option '%s'", arg);
        ignore_case = true;
    }
    if (i >= argc)
        return usage_error(argv[0], "no pattern given");
    if (i + 1 >= argc)
        return usage_error(argv[0], "no string given");

    const char *pattern = argv[i];
    int status = kExitOk;
    for (++i; i < argc; ++i)
        if (!(ignore_case ? ext_globcase(argv[i], pattern) : ext_glob(argv[i], pattern)))
            status = kExitNo;
    return status;
}

}  // namespace hvext
