// hvext tz: the installation's time zone, and TZIDs for time-zone aliases.
#include <cstdio>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext tz [<alias>...]\n"
    "\n"
    "Without an alias, prints the installation's time-zone name: the site string\n"
    "TIMEZONE_NAME (HV_SITE_TIMEZONE_NAME with the stand-in libraries), else the\n"
    "first usable line of /etc/timezone.\n"
    "\n"
    "With aliases, prints one TZID per alias, in order, as ~/sys/TimeZoneMap maps\n"
    "it (ignoring case; the last matching line wins). An alias that does not match\n"
    "prints the library's default, Europe/London, is named on stderr, and makes\n"
    "the exit status 1.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

// The library's TZID buffer: 79 characters and the NUL.
constexpr int kTzidBuffer = 80;

int print_system_zone(const char *cmd) {
    const char *name = ext_GetSystemTimezoneName();
    if (name == nullptr) {
        complain(cmd, "no time-zone name: TIMEZONE_NAME is not set and /etc/timezone "
                      "has no usable line");
        return kExitNo;
    }
    std::puts(name);
    return kExitOk;
}

bool print_tzid(const char *cmd, const char *alias) {
    char tzid[kTzidBuffer];
    const int found = ext_GetTZIDFromAlias(alias, tzid);
    std::puts(tzid);
    if (!found)
        complain(cmd, "no TZID for '%s' in ~/sys/TimeZoneMap", alias);
    return found != 0;
}

}  // namespace

int cmd_tz(int argc, char **argv) {
    return run_operands(argc, argv, kHelp, "alias", print_tzid, print_system_zone);
}

}  // namespace hvext
