// hvext copy: one file copied with its permission bits and owner.
#include <cstring>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext copy <from> <to>\n"
    "\n"
    "Copies the file <from> to <to> (each a file-name token or a path), as the\n"
    "suite's programs copy files. A new <to> gets the permission bits of <from>\n"
    "(less the umask); an existing one keeps its own and is overwritten from the\n"
    "start without being truncated. Either way <to> is given the owner and group\n"
    "of <from>, which needs privilege when they are not the caller's. On failure\n"
    "the reason is printed and the exit status is 1; a <to> that was already\n"
    "created stays.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

}  // namespace

int cmd_copy(int argc, char **argv) {
    int first = 0;
    if (int status = scan_operands(argc, argv, kHelp, &first); status >= 0)
        return status;
    if (argc - first != 2)
        return usage_error(argv[0], "expected <from> and <to>, got %d operand%s",
                           argc - first, argc - first == 1 ? "" : "s");

    const char *from = argv[first];
    const char *to = argv[first + 1];
    int error = 0;
    if (ext_copy(from, to, &error) == 0)
        return kExitOk;
    complain(argv[0], "cannot copy '%s' to '%s': %s", from, to,
             error == HV_EXT_COPY_FAILED ? "data copy failed" : std::strerror(error));
    return kExitNo;
}

}  // namespace hvext
