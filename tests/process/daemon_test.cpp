// Daemon start-up, watched from outside. The test process forks a caller that calls
// ext_BecomeDaemon; the caller's fork tells the test the daemon's id, the test reads
// the daemon's session from /proc the moment the caller has exited, and then lets
// the daemon describe itself (session, descriptors) over a pipe.

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

int g_report_fd = -1;

}  // namespace

// The daemon's id, as the fork inside the library gives it to the caller. (A child
// subreaper would adopt the daemon instead, but qemu-user refuses that prctl.)
extern "C" pid_t fork() noexcept {
    static auto real = reinterpret_cast<pid_t (*)()>(dlsym(RTLD_NEXT, "fork"));
    const pid_t pid = real();
    const std::string line = "forked " + std::to_string(pid) + "\n";
    if (pid > 0 && g_report_fd >= 0 && write(g_report_fd, line.data(), line.size()) < 0) _exit(3);
    return pid;
}

// The parent's ten-second fallback wait, recorded instead of slept.
extern "C" unsigned sleep(unsigned seconds) {
    const std::string line = "slept " + std::to_string(seconds) + "\n";
    if (g_report_fd >= 0 && write(g_report_fd, line.data(), line.size()) < 0) _exit(3);
    return 0;
}

namespace {

using hv::test::Fault;

constexpr char kLog[] = "/srv/mail/logs/daemon.stderr";
constexpr char kNull[] = "/dev/null";
constexpr const char *kOwn[] = {"/srv/mail/own0", "/srv/mail/own1", "/srv/mail/own2"};
constexpr const char *kClosed = "closed";

struct Scripted {
    const char *call;
    Fault fault;
};

struct Case {
    const char *label = "";
    int closed_mask = 0;            // standard descriptors the caller closes first
    std::vector<Scripted> faults = {};
    bool log_exists = true;
    bool long_home = false;          // "~/logs/daemon.stderr" then does not resolve
    bool group_leader = false;       // setsid must fail in the caller itself
    bool forks = true;
    bool sleeps = false;
    const char *fd[3] = {kNull, kNull, kLog};
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.label; }

std::string fd_set_text() {
    std::set<int> fds;
    for (int fd = 0; fd < 64; ++fd)
        if (fcntl(fd, F_GETFD) != -1) fds.insert(fd);
    std::string text;
    for (int fd : fds) text += " " + std::to_string(fd);
    return text;
}

std::string describe(int fd) {
    char target[256] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (readlink(link.c_str(), target, sizeof target - 1) < 0) return kClosed;
    const int flags = fcntl(fd, F_GETFL) & (O_ACCMODE | O_APPEND);
    return std::string(target) + " " + std::to_string(flags) + " " +
           std::to_string(fcntl(fd, F_GETFD) & FD_CLOEXEC);
}

void say(int fd, const std::string &line) {
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(3);
}

[[noreturn]] void be_caller(const Case &c, int report, int go) {
    for (int fd = 0; fd < 3; ++fd) {
        const int own = open(kOwn[fd], fd == 0 ? O_RDONLY : O_WRONLY);
        if (own < 0 || dup2(own, fd) != fd || close(own) != 0) _exit(4);
        if (c.closed_mask & (1 << fd)) close(fd);
    }
    if (c.long_home) setenv("HV_DATADIR", ("/srv/" + std::string(240, 'h')).c_str(), 1);
    if (c.group_leader) setpgid(0, 0);
    g_report_fd = report;
    say(report, "before" + fd_set_text() + "\n");
    for (const Scripted &s : c.faults) hv::test::script(s.call, s.fault);
    ext_BecomeDaemon();
    char byte;
    if (read(go, &byte, 1) != 1) _exit(5);
    std::ostringstream out;
    out << "daemon " << getpid() << " " << getsid(0) << " " << getpgrp() << "\n";
    for (int fd = 0; fd < 3; ++fd) out << "fd" << fd << " " << describe(fd) << "\n";
    out << "after" << fd_set_text() << "\n";
    say(report, out.str());
    if (write(2, "from the daemon\n", 16) < 0) _exit(0);
    _exit(0);
}

// Reads to end of file, or only what is there already.
std::string read_all(int fd, bool available_only = false) {
    if (available_only) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, n);
    if (available_only) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return text;
}

std::string line_after(const std::string &report, const std::string &tag) {
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, tag.size() + 1, tag + " ") == 0 || line == tag) return line.substr(tag.size());
    return "(no " + tag + " line)";
}

pid_t session_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string state;
    pid_t ppid, pgrp, session = -1;
    fields >> state >> ppid >> pgrp >> session;
    return session;
}

std::string expected_fd(const Case &c, int fd) {
    const char *target = c.fd[fd];
    if (target == kClosed) return std::string(" ") + kClosed;
    const bool own = target == kOwn[fd];
    const int flags = fd == 0 ? O_RDONLY : (own ? O_WRONLY : O_WRONLY | O_APPEND);
    // The caller's own descriptors were opened without close-on-exec; the library
    // must leave the ones it sets inheritable too.
    return " " + std::string(target) + " " + std::to_string(flags) + " 0";
}

std::string expected_after(const Case &c, const std::string &before) {
    std::set<int> fds;
    std::istringstream in(before);
    for (int fd; in >> fd;) fds.insert(fd);
    for (int fd = 0; fd < 3; ++fd) {
        fds.erase(fd);
        if (c.fd[fd] != kClosed) fds.insert(fd);
    }
    std::string text;
    for (int fd : fds) text += " " + std::to_string(fd);
    return text;
}

class BecomeDaemon : public testing::TestWithParam<Case> {};

TEST_P(BecomeDaemon, DetachesAndRedirects) {
    const Case &c = GetParam();
    for (const char *own : kOwn) hv::test::write_file(own, "");
    if (c.log_exists) hv::test::write_file(kLog, "earlier\n");
    int report[2], go[2];
    ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
    fflush(nullptr);
    const pid_t caller = fork();
    ASSERT_NE(caller, -1);
    if (caller == 0) {
        close(report[0]);
        close(go[1]);
        be_caller(c, report[1], go[0]);
    }
    close(report[1]);
    close(go[0]);

    int status = -1;
    std::string text;
    pid_t daemon = caller, session_at_exit = -1;
    if (c.forks) {
        ASSERT_EQ(waitpid(caller, &status, 0), caller);
        EXPECT_EQ(status, 0) << "the caller must exit with status 0";
        text = read_all(report[0], true);
        daemon = std::atoi(line_after(text, "forked").c_str());
        ASSERT_GT(daemon, 0) << text;
        session_at_exit = session_of(daemon);
    }
    // A daemon that died early must fail the test, not kill it with SIGPIPE.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigprocmask(SIG_BLOCK, &pipe_signal, nullptr);
    EXPECT_EQ(write(go[1], "g", 1), 1) << "the daemon is gone";
    close(go[1]);
    text += read_all(report[0]);
    close(report[0]);
    if (!c.forks) {
        ASSERT_EQ(waitpid(caller, &status, 0), caller);
        EXPECT_EQ(status, 0) << text;
    }

    std::istringstream ids(line_after(text, "daemon"));
    pid_t pid = -1, sid = -1, pgid = -1;
    ids >> pid >> sid >> pgid;
    EXPECT_EQ(pid, daemon) << text;
    if (c.forks) {
        EXPECT_EQ(session_at_exit, daemon) << "the caller exited before setsid";
    }
    if (c.group_leader) {
        EXPECT_EQ(sid, getsid(0));
    } else {
        EXPECT_EQ(sid, pid);
        EXPECT_EQ(pgid, pid);
    }
    EXPECT_EQ(line_after(text, "slept"), c.sleeps ? " 10" : "(no slept line)");
    for (int fd = 0; fd < 3; ++fd)
        EXPECT_EQ(line_after(text, "fd" + std::to_string(fd)), expected_fd(c, fd)) << "fd " << fd;
    EXPECT_EQ(line_after(text, "after"), expected_after(c, line_after(text, "before")));

    struct stat st;
    if (!c.log_exists) {
        EXPECT_NE(stat(kLog, &st), 0) << "the error log must not be created";
    } else {
        std::ifstream in(kLog);
        const std::string log((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(log, c.fd[2] == kLog ? "earlier\nfrom the daemon\n" : "earlier\n");
    }
}

const Fault kOnce{.err = EMFILE};

INSTANTIATE_TEST_SUITE_P(
    Cases, BecomeDaemon,
    testing::Values(
        Case{.label = "Plain"},
        Case{.label = "NoLog", .log_exists = false, .fd = {kNull, kNull, kNull}},
        Case{.label = "StdinClosed", .closed_mask = 1},
        Case{.label = "AllClosed", .closed_mask = 7},
        Case{.label = "StderrClosedNoLog", .closed_mask = 4, .log_exists = false,
             .fd = {kNull, kNull, kNull}},
        Case{.label = "LogDoesNotResolve", .long_home = true, .fd = {kNull, kNull, kNull}},
        Case{.label = "NoPipe", .faults = {{"sxl_pipe", kOnce}}, .sleeps = true},
        Case{.label = "NoFork", .faults = {{"sxl_fork", kOnce}}, .forks = false},
        Case{.label = "NoForkNoPipe", .closed_mask = 2,
             .faults = {{"sxl_pipe", kOnce}, {"sxl_fork", kOnce}}, .forks = false},
        Case{.label = "NoForkGroupLeader", .faults = {{"sxl_fork", kOnce}}, .group_leader = true,
             .forks = false},
        Case{.label = "NullUnopenableForStdin", .faults = {{"sxl_open", kOnce}},
             .fd = {kOwn[0], kNull, kLog}},
        Case{.label = "LogUnopenable", .faults = {{"sxl_open", {.skip = 2, .err = EACCES}}},
             .fd = {kNull, kNull, kNull}},
        Case{.label = "NothingOpens",
             .faults = {{"sxl_open", {.times = Fault::kForever, .err = ENFILE}}},
             .fd = {kOwn[0], kOwn[1], kOwn[2]}},
        // The log lands on descriptor 0 first and must still reach 2, not 1.
        Case{.label = "LowerSlotsStayClosed", .closed_mask = 3,
             .faults = {{"sxl_open", {.times = 2, .err = ENFILE}}},
             .fd = {kClosed, kClosed, kLog}}),
    [](const testing::TestParamInfo<Case> &row) { return std::string(row.param.label); });

}  // namespace
