// hvext chown: files given to the system account, as the suite's programs do it.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext chown <name>...\n"
    "\n"
    "Gives each named file (a file-name token or a path) to the system account,\n"
    "user and group. Without the privilege to do it directly, the installation's\n"
    "chown helper (~/bin/hvchown) is run. A file that cannot be given is named on\n"
    "stderr with its code, a system error number or the helper's exit code (see\n"
    "hvchown --help), and the others are still tried; the exit status is then 1.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

bool give_to_account(const char *cmd, const char *name) {
    const int result = ext_ChownToOrdavin(name);
    if (result == 0)
        return true;
    // An errno value and the helper's exit code look alike: give the code and its
    // reading as an errno value, and let the reader tell.
    complain(cmd, "'%s' not given to the system account: code %d (%s; or the chown "
             "helper's exit code)", name, result, std::strerror(result));
    return false;
}

}  // namespace

int cmd_chown(int argc, char **argv) {
    int first = 0;
    if (int status = scan_operands(argc, argv, kHelp, &first); status >= 0)
        return status;
    if (first >= argc)
        return usage_error(argv[0], "no name given");

    if (ext_GetOrdavinUid() == 0 || ext_GetOrdavinGid() == 0) {
        char account[HV_EXT_PATH_MAX];
        ext_GetOrdUserName(account);
        complain(argv[0], "no system account '%s' in the password database", account);
        return kExitNo;
    }
    return for_each_operand(argv[0], argc - first, argv + first, give_to_account);
}

}  // namespace hvext
