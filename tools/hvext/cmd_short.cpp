// hvext short: absolute paths shortened back into file-name tokens.
#include <cstdio>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext short <path>...\n"
    "\n"
    "Prints the short form of each path, one per line: \"~\" for a path under the\n"
    "home area, \"@\" for one under the alternative area (see hvext -a); the areas\n"
    "are plain prefixes, tried in that order. A name that already is a token is\n"
    "printed as it is. A path under neither area is printed unchanged and makes\n"
    "the exit status 1.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

}  // namespace

int cmd_short(int argc, char **argv) {
    int first = 0;
    if (int status = scan_operands(argc, argv, kHelp, &first); status >= 0)
        return status;
    if (first >= argc)
        return usage_error(argv[0], "no path given");

    int status = kExitOk;
    char buf[HV_EXT_PATH_MAX];
    for (int i = first; i < argc; ++i) {
        if (!ext_GetShortFName(argv[i], buf)) status = kExitNo;
        if (buf[0] == '\0' && argv[i][0] != '\0') {
            std::fflush(stdout);
            complain(argv[0], "'%.40s...' is longer than 255 characters", argv[i]);
            continue;
        }
        std::puts(buf);
    }
    return status;
}

}  // namespace hvext
