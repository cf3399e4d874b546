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
    "  starts: the system start count from ~/sys/sysdata (0 when unknown)\n"
    "  timezone: the installation's time-zone name (only when known; see hvext tz)\n"
    "  timediff: UTC minus local time now, in seconds (-3600 for UTC+1)\n"
    "  account: the system account's user and group ids (uid:gid), or \"not found\"\n"
    "  playpen: whether the real user may use the play-pen (yes or no)\n"
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
    std::printf("starts: %d\n", ext_GetSystemStartCount());
    if (const char *zone = ext_GetSystemTimezoneName())
        std::printf("timezone: %s\n", zone);
    std::printf("timediff: %d\n", ext_TimeDiff());
    // An id of 0 is how the library says the account is missing.
    if (const uid_t uid = ext_GetOrdavinUid(); uid != 0)
        std::printf("account: %u:%u\n", static_cast<unsigned>(uid),
                    static_cast<unsigned>(ext_GetOrdavinGid()));
    else
        std::printf("account: not found\n");
    std::printf("playpen: %s\n", ext_PlayPenAllowed() ? "yes" : "no");
    return kExitOk;
}

}  // namespace hvext
