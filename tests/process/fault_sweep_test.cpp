// Every routine of the family that calls the platform layer, under every failure
// of each of its calls (tests/support/sweep.h), starting from a fresh process.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"
#include "sweep.h"

namespace {

using hv::test::Case;
using hv::test::Outcome;

constexpr char kLog[] = "/srv/mail/logs/daemon.stderr";
constexpr int kUntouched = 12345;
int g_pipe[2] = {-1, -1};

std::string target_of(int fd) {
    char target[PATH_MAX];
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, PATH_MAX);
    return n < 0 ? "" : std::string(target, static_cast<std::size_t>(n));
}

std::string cwd() {
    char dir[PATH_MAX];
    return getcwd(dir, sizeof dir) != nullptr ? dir : "";
}

void on_child(int) {}

// The caller sleeps ten seconds when no pipe can tell it the daemon's session
// exists; the daemon ending earlier cuts that short.
void daemon_log() {
    hv::test::write_file(kLog, "");
    signal(SIGCHLD, on_child);
}

// The daemon (or, when it cannot fork, the caller itself) leads a session of
// its own and has its standard descriptors redirected, unless a step of that
// failed; a descriptor that could not be redirected is the sweep's to see.
bool detached(long, const Outcome &o) {
    const bool redirected = o.failed("sxl_open") || o.failed("sxl_dup") ||
                            (target_of(0) == "/dev/null" && target_of(1) == "/dev/null" &&
                             target_of(2) == kLog);
    return redirected && (o.failed("sxl_setsid") || getsid(0) == getpid());
}

void pipe_with_data() {
    if (pipe(g_pipe) != 0 || write(g_pipe[1], "x", 1) != 1) g_pipe[0] = -1;
}

long wait_on_pipe() {
    int readable = 1, writable = 1, exceptional = 0;
    const int r = ext_WaitOnFd(g_pipe[0], &readable, &writable, &exceptional, 0);
    return r * 100 + readable * 10 + writable;
}

// A child that has ended and waits to be reaped.
void ended_child() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    siginfo_t info;
    waitid(P_PID, pid, &info, WEXITED | WNOWAIT);
}

void profiling_switch() {
    hv::test::write_file("/srv/mail/sys/general.cfg", "EXT_MULTI_PROFILING=1\n");
}

// The directories of an earlier run are gone: each level is made again.
void profiling_prepared() {
    hv::test::remove_path(("/tmp/hvdebug/prog/" + std::to_string(getpid())).c_str());
    hv::test::remove_path("/tmp/hvdebug/prog");
    hv::test::remove_path("/tmp/hvdebug");
    ext_profprep("/opt/morvek/bin/prog", 0);
}

const Case kCases[] = {
    {.label = "BecomeDaemon",
     .setup = daemon_log,
     .run = [] { return ext_BecomeDaemon(), 0L; },
     .check = detached},
    {.label = "WaitOnFd",
     .setup = pipe_with_data,
     .run = wait_on_pipe,
     .check = [](long r, const Outcome &o) { return r == (o.failed() ? -100 : 110); }},
    // errno is left as it was, whatever the wait did.
    {.label = "Reaper",
     .setup = ended_child,
     .run = [] {
         errno = kUntouched;
         return long{ext_reaper(0) == -1 && errno == kUntouched};
     },
     .check = [](long r, const Outcome &) { return r == 1; }},
    // The handler is registered once the switch is found, whatever came of it.
    {.label = "Profprep",
     .setup = profiling_switch,
     .run = [] { return ext_profprep("/opt/morvek/bin/prog", 1), 0L; },
     .check = [](long, const Outcome &o) {
         const bool unread =
             o.failed("sxl_malloc") || o.failed("sxl_fopen") || o.failed("sxl_fgets", 1);
         return hv::test::calls("sxl_atexit") == (unread ? 0 : 1);
     }},
    // Each level it cannot make ends it in the level above.
    {.label = "Profexit",
     .setup = profiling_prepared,
     .run = [] { return ext_profexit(), 0L; },
     .check = [](long, const Outcome &o) {
         const std::string levels[] = {"/tmp", "/tmp/hvdebug", "/tmp/hvdebug/prog",
                                       "/tmp/hvdebug/prog/" + std::to_string(getpid())};
         const long failed = hv::test::nth_failed("sxl_mkdir");
         return cwd() == levels[o.failed() ? failed - 1 : 3];
     }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
