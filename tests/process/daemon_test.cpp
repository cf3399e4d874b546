// Daemon start-up, watched by a forked caller as it leaves and by the daemon itself.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

int g_report = -1;  // the write end of the pipe to the test, in the caller and daemon

// In the caller: whether its only child, the daemon, leads a session of its own.
bool daemon_has_session() {
    pid_t pid = 0;
    std::ifstream("/proc/self/task/" + std::to_string(getpid()) + "/children") >> pid;
    return pid > 0 && getsid(pid) == pid;
}

}  // namespace

// The daemon starts its session late, so that a caller that does not wait for it shows.
extern "C" pid_t setsid() noexcept {
    usleep(100000);
    return static_cast<pid_t>(syscall(SYS_setsid));
}

// The ten-second fallback wait, noted and cut short once it has served its purpose.
extern "C" unsigned sleep(unsigned seconds) {
    dprintf(g_report, "slept %u\n", seconds);
    for (int i = 0; i < 10000 && !daemon_has_session(); ++i) usleep(1000);
    return 0;
}

namespace {

constexpr char kLog[] = "/srv/mail/logs/daemon.stderr";

// Where each descriptor leads, its access mode and append flag, its close-on-exec flag.
std::string describe(int from, int to) {
    std::string text;
    char target[256];
    for (int fd = from; fd < to; ++fd) {
        const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, 255);
        text += n < 0 ? "closed\n"
                      : std::string(target, n) + " " +
                            std::to_string(fcntl(fd, F_GETFL) & (O_ACCMODE | O_APPEND)) + " " +
                            std::to_string(fcntl(fd, F_GETFD)) + "\n";
    }
    return text;
}

struct Row {
    int closed = 0;  // a mask of the standard descriptors the caller closes first
    const char *call = nullptr;  // a platform call whose first two calls fail
    bool log_exists = true;
    std::string expected = "";
};

[[noreturn]] void be_caller(const Row &row) {
    for (int fd = 0; fd < 3; ++fd) {
        const int own = open("/dev/zero", fd == 0 ? O_RDONLY : O_WRONLY);
        if (own < 0 || dup2(own, fd) != fd || close(own) != 0) _exit(4);
        if (row.closed & (1 << fd)) close(fd);
    }
    const pid_t caller = getpid();
    const std::string others = describe(3, 64);
    atexit([] { dprintf(g_report, daemon_has_session() ? "caller left\n" : "left too early\n"); });
    if (row.call != nullptr) hv::test::script(row.call, EMFILE, 2);
    ext_BecomeDaemon();
    while (getppid() == caller) usleep(1000);
    std::string text = getsid(0) == getpid() && getpgrp() == getpid() ? "leader\n" : "no leader\n";
    text += describe(0, 3) + (describe(3, 64) == others ? "" : "others changed\n");
    dprintf(g_report, "%s", text.c_str());
    _exit(0);
}

TEST(BecomeDaemon, DetachesAndRedirects) {
    const std::string in = "/dev/null 0 0\n", out = "/dev/null 1025 0\n";
    const std::string log = "/srv/mail/logs/daemon.stderr 1025 0\n", left = "caller left\nleader\n";
    const Row rows[] = {
        {.expected = left + in + out + log},
        {.log_exists = false, .expected = left + in + out + out},
        {.closed = 7, .expected = left + in + out + log},
        {.call = "sxl_pipe", .expected = "slept 10\n" + left + in + out + log},
        // Neither /dev/null opens; the log lands on 0 first and must still reach 2, not 1.
        {.closed = 3, .call = "sxl_open", .expected = left + "closed\nclosed\n" + log},
    };
    for (const Row &row : rows) {
        hv::test::remove_path(kLog);
        if (row.log_exists) hv::test::write_file(kLog, "");
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        g_report = report[1];
        const pid_t caller = fork();
        if (caller == 0) be_caller(row);
        close(report[1]);
        std::ifstream from_pipe("/proc/self/fd/" + std::to_string(report[0]));
        const std::string text((std::istreambuf_iterator<char>(from_pipe)), {});
        close(report[0]);
        int status = -1;
        EXPECT_EQ(waitpid(caller, &status, 0) == caller ? status : -1, 0) << "row " << &row - rows;
        EXPECT_EQ(text, row.expected) << "row " << &row - rows;
    }
}

}  // namespace
