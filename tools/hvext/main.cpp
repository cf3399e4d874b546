// hvext: the library's facilities for shell scripts and administrators.
//
//   hvext [-a DIR] SUBCOMMAND [ARG...]
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <getopt.h>

#include "cli.h"
#include "hv_ext.h"

// One row per subcommand: its name and a one-line summary. Each NAME is defined as
// hvext::cmd_NAME in cmd_NAME.cpp.
#define HVEXT_COMMANDS(X)                                               \
    X(info, "show the installation areas")                              \
    X(path, "expand file-name tokens into absolute paths")              \
    X(short, "shorten absolute paths into file-name tokens")            \
    X(config, "print customise-info settings")                          \
    X(lock, "run a command holding a record lock on a file")            \
    X(copy, "copy a file with its permission bits and owner")           \
    X(chown, "give files to the system account")                        \
    X(tz, "print the time-zone name, or TZIDs for aliases")             \
    X(lang, "cut a language code; its catalogue directory")             \
    X(glob, "match strings against a wildcard pattern")                 \
    X(crc16, "print the CRC-16 of files")                               \
    X(argv, "split a command line into words")

namespace hvext {

#define HVEXT_DECLARE(name, summary) int cmd_##name(int argc, char **argv);
HVEXT_COMMANDS(HVEXT_DECLARE)
#undef HVEXT_DECLARE

namespace {

struct Command {
    const char *name;
    const char *summary;
    CommandFn run;
};

constexpr Command kCommands[] = {
#define HVEXT_ROW(name, summary) {#name, summary, cmd_##name},
    HVEXT_COMMANDS(HVEXT_ROW)
#undef HVEXT_ROW
};

void print_help() {
    std::fputs(
        "Usage: hvext [options] <subcommand> [<argument>...]\n"
        "\n"
        "Gives shell scripts the Morvek Server ext library: file-name tokens,\n"
        "installation areas and the rest, one subcommand per job.\n"
        "\n"
        "Options:\n"
        "  -a, --alt <dir>  register <dir> as the alternative area (\"@/\")\n"
        "  -h, --help       display this help and exit\n"
        "  -V, --version    display the version and exit\n"
        "\n"
        "Subcommands:\n",
        stdout);
    for (const Command &command : kCommands)
        std::printf("  %-14s %s\n", command.name, command.summary);
    std::fputs(
        "\n"
        "Run 'hvext <subcommand> --help' for a subcommand's arguments.\n"
        "The home area comes from the installation (HV_DATADIR with the stand-in\n"
        "libraries); without one, hvext ends with status 98.\n"
        "\n"
        "Exit status: 0 success, 1 the answer is no or a lookup failed,\n"
        "2 bad usage.\n",
        stdout);
}

const Command *find_command(const char *name) {
    for (const Command &command : kCommands)
        if (std::strcmp(command.name, name) == 0)
            return &command;
    return nullptr;
}

int register_alternative_area(const char *dir) {
    errno = 0;
    if (ext_SetAlternativeArea(1, dir))
        return kExitOk;
    if (errno != 0)
        complain(nullptr, "alternative area '%s': %s", dir, std::strerror(errno));
    else
        complain(nullptr, "alternative area '%s' is not usable", dir);
    return kExitNo;
}

}  // namespace
}  // namespace hvext

int main(int argc, char **argv) {
    using namespace hvext;
    static constexpr option kOptions[] = {
        {"alt", required_argument, nullptr, 'a'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;  // our own messages, in our own format
    int opt;
    // "+": options end at the subcommand, whose own options are its business.
    while ((opt = getopt_long(argc, argv, "+:a:hV", kOptions, nullptr)) != -1) {
        switch (opt) {
        case 'a':
            if (int status = register_alternative_area(optarg); status != kExitOk)
                return status;
            break;
        case 'h':
            print_help();
            return kExitOk;
        case 'V':
            std::printf("hvext %s\n", HVEXT_VERSION);
            return kExitOk;
        case ':':
            return usage_error(nullptr, "option '%s' needs an argument", argv[optind - 1]);
        default:
            if (optopt != 0)
                return usage_error(nullptr, "unknown option '-%c'", optopt);
            return usage_error(nullptr, "unknown option '%s'", argv[optind - 1]);
        }
    }
    if (optind >= argc)
        return usage_error(nullptr, "no subcommand given (try 'hvext --help')");
    const Command *command = find_command(argv[optind]);
    if (!command)
        return usage_error(nullptr, "unknown subcommand '%s'", argv[optind]);
    return command->run(argc - optind, argv + optind);
}
