// hvext info: the installation areas, one "label: value" line each.
#include <cstdio>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext info\n"
    "\n"
    "Shows the installation areas, one 'label: value' line each:\n"
    "  home:  the home area, written \"~/\" in file-name tokens\n"
    "  root:  the installation root, written \"^/\"\n"
    "  uap:   the UAP area, written \"~UAP\"\n"
    "  alt0:  alternative area slot 0 (only when set)\n"
    "  alt1:  alternative area slot 1, written \"@/\" (only when set; see hvext -a)\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

}  // namespace

int cmd_info(int argc, char **argv) {
    int first = 0;
    if (int status = scan_operands(argc, argv, kHelp, &first); status >= 0)
        return status;
    if (first < argc)
        return usage_error(argv[0], "unexpected argument '%s'", argv[first]);

    char buf[HV_EXT_PATH_MAX];
    ext_GetHomePath(buf);
    std::printf("home: %s\n", buf);
    std::printf("root: %s\n", ext_GetHVBinPath(buf));
    ext_GetUAPPath(buf);
    std::printf("uap: %s\n", buf);
    for (int slot = 0; slot < 2; ++slot)
        if (ext_GetAlternativeArea(slot, buf))
            std::printf("alt%d: %s\n", slot, buf);
    return kExitOk;
}

}  // namespace hvext
