// hvext path: file-name tokens expanded into absolute paths.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext path <token>...\n"
    "\n"
    "Prints the absolute path of each token, one per line:\n"
    "  ~/NAME      in the home area (~/bin, ~/diag, ~/newconfig: installation root)\n"
    "  ~UAP/NAME   in the UAP area\n"
    "  @/NAME      in the alternative area (see hvext -a)\n"
    "  ^/NAME      in the installation root\n"
    "  /usr/lib/sendmail, /usr/slib/sendmail: whichever of the two exists\n"
    "Any other name is printed unchanged. A token that cannot be expanded is\n"
    "named on stderr and the others are still printed; the exit status is then 1.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

bool is_uap_token(const char *token) {
    return std::strncmp(token, "~UAP", 4) == 0 && (token[4] == '\0' || token[4] == '/');
}

// The library only says no; tell the user which of its reasons applies.
const char *why_unresolved(const char *token) {
    if (token[0] == '~' && token[1] != '/' && !is_uap_token(token))
        return "not a known '~' name";
    char slot[HV_EXT_PATH_MAX];
    if (token[0] == '@' && token[1] == '/' && !ext_GetAlternativeArea(1, slot))
        return "no alternative area set (use hvext -a DIR)";
    return "the path would be longer than 255 characters";
}

bool print_path(const char *cmd, const char *token) {
    char buf[HV_EXT_PATH_MAX];
    if (!ext_GetActualFName(token, buf)) {
        complain(cmd, "cannot resolve '%s': %s", token, why_unresolved(token));
        return false;
    }
    std::puts(buf);
    return true;
}

}  // namespace

int cmd_path(int argc, char **argv) {
    return run_operands(argc, argv, kHelp, "token", print_path);
}

}  // namespace hvext
