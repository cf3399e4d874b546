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

bool print_short(const char *cmd, const char *path) {
    char buf[HV_EXT_PATH_MAX];
    const bool shortened = ext_GetShortFName(path, buf) != 0;
    if (buf[0] == '\0' && path[0] != '\0') {
        complain(cmd, "'%.40s...' is longer than 255 characters", path);
        return false;
    }
    std::puts(buf);
    return shortened;
}

}  // namespace

int cmd_short(int argc, char **argv) {
    return run_operands(argc, argv, kHelp, "path", print_short);
}

}  // namespace hvext
