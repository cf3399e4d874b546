// hvext lock: a command run while this process holds a whole-file record lock.
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext lock [-s|-x] [-n] [-w <secs>] <file> [--] <command> [<argument>...]\n"
    "\n"
    "Takes a record lock on the whole of <file>, the kind of lock the suite's\n"
    "programs take, runs <command> while holding it, and exits with the command's\n"
    "status (128 + the signal's number if it was killed; 126 if it could not be\n"
    "run, 127 if it was not found). The lock is released when the command ends.\n"
    "\n"
    "Options:\n"
    "  -x, --exclusive      a write lock (the default); <file> is opened for\n"
    "                       reading and writing and created if missing\n"
    "  -s, --shared         a read lock; <file> is opened read-only and must exist\n"
    "  -n, --nonblock       fail at once with status 1 if the lock is held elsewhere\n"
    "  -w, --timeout <secs> give up with status 1 after <secs> seconds (0: as -n)\n"
    "  -h, --help           display this help and exit\n"
    "\n"
    "Without -n or -w, waits for the lock as long as it takes.\n";

struct Options {
    bool shared = false;
    bool nonblock = false;
    bool timed = false;
    unsigned int seconds = 0;
};

bool parse_seconds(const char *text, unsigned int *seconds) {
    if (text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > UINT_MAX) return false;
    *seconds = static_cast<unsigned int>(value);
    return true;
}

// Returns -1 with *first at <file> when the command should go on, else the exit code.
int parse_options(int argc, char **argv, Options *options, int *first) {
    static constexpr option kOptions[] = {
        {"shared", no_argument, nullptr, 's'},
        {"exclusive", no_argument, nullptr, 'x'},
        {"nonblock", no_argument, nullptr, 'n'},
        {"timeout", required_argument, nullptr, 'w'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    optind = 0;  // main's scan is done: start afresh on our own arguments
    opterr = 0;
    int opt;
    while ((opt = getopt_long(argc, argv, "+:sxnw:h", kOptions, nullptr)) != -1) {
        switch (opt) {
        case 's': options->shared = true; break;
        case 'x': options->shared = false; break;
        case 'n': options->nonblock = true; break;
        case 'w':
            if (!parse_seconds(optarg, &options->seconds))
                return usage_error(argv[0], "invalid timeout '%s'", optarg);
            options->timed = true;
            break;
        case 'h': std::fputs(kHelp, stdout); return kExitOk;
        case ':': return usage_error(argv[0], "option '%s' needs an argument", argv[optind - 1]);
        default:
            if (optopt != 0) return usage_error(argv[0], "unknown option '-%c'", optopt);
            return usage_error(argv[0], "unknown option '%s'", argv[optind - 1]);
        }
    }
    if (options->nonblock && options->timed)
        return usage_error(argv[0], "-n and -w cannot be used together");
    *first = optind;
    return -1;
}

// The library leaves SIGALRM ignored after a timed lock when it was at its default,
// and an ignored signal stays ignored across exec: the command gets it as it was.
int timed_lock(int fd, int kind, unsigned int seconds) {
    struct sigaction before = {};
    sigaction(SIGALRM, nullptr, &before);
    const int result = ext_TimedLockFile(fd, kind, seconds);
    sigaction(SIGALRM, &before, nullptr);
    return result;
}

int lock(const char *cmd, const char *file, int fd, const Options &options) {
    const bool wait = !options.nonblock && !(options.timed && options.seconds == 0);
    const int kind = (options.shared ? HV_EXT_LOCK_READ : HV_EXT_LOCK_WRITE) |
                     (wait ? 0 : HV_EXT_LOCK_NOWAIT);
    const int result = wait && options.timed ? timed_lock(fd, kind, options.seconds)
                                             : ext_LockFile(fd, kind);
    if (result == 0) return kExitOk;
    if (result == EAGAIN)
        complain(cmd, "'%s' is locked by another process", file);
    else if (result == EINTR && options.timed)
        complain(cmd, "no lock on '%s' within %u second%s", file, options.seconds,
                 options.seconds == 1 ? "" : "s");
    else
        complain(cmd, "cannot lock '%s': %s", file, std::strerror(result));
    return kExitNo;
}

int run(const char *cmd, char **command) {
    const pid_t pid = fork();
    if (pid < 0) {
        complain(cmd, "cannot start '%s': %s", command[0], std::strerror(errno));
        return kExitNo;
    }
    if (pid == 0) {
        execvp(command[0], command);
        const int err = errno;
        complain(cmd, "cannot run '%s': %s", command[0], std::strerror(err));
        _exit(err == ENOENT ? 127 : 126);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            complain(cmd, "cannot wait for '%s': %s", command[0], std::strerror(errno));
            return kExitNo;
        }
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace

int cmd_lock(int argc, char **argv) {
    Options options;
    int first = 0;
    if (int status = parse_options(argc, argv, &options, &first); status >= 0)
        return status;
    if (first >= argc)
        return usage_error(argv[0], "no file given");
    const char *file = argv[first++];
    if (first < argc && std::strcmp(argv[first], "--") == 0)
        ++first;
    if (first >= argc)
        return usage_error(argv[0], "no command given");

    const int fd = options.shared ? open(file, O_RDONLY | O_NOCTTY | O_CLOEXEC)
                                  : open(file, O_RDWR | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        complain(argv[0], "cannot open '%s': %s", file, std::strerror(errno));
        return kExitNo;
    }
    // The lock is this process's: it lasts until we exit, after the command.
    if (int status = lock(argv[0], file, fd, options); status != kExitOk)
        return status;
    return run(argv[0], argv + first);
}

}  // namespace hvext
