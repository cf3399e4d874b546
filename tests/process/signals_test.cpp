// Signal handlers without restart, the reaping of ended children, descriptor waits.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "hv_ext.h"

namespace {

std::atomic<int> g_caught{0};
void count_signal(int) { ++g_caught; }

// No restart: a blocked call fails with EINTR. The handler stays after it has run.
TEST(Signal, InstallsWithoutRestartAndStaysInstalled) {
    EXPECT_EQ(ext_signal(SIGALRM, count_signal), SIG_DFL);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    alarm(1);
    char byte;
    EXPECT_EQ(read(fds[0], &byte, 1), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_caught.load(), 1);
    EXPECT_EQ(ext_signal(SIGALRM, SIG_IGN), count_signal);
    EXPECT_EQ(ext_signal(SIGKILL, count_signal), SIG_ERR);
}

TEST(Reaper, CollectsEveryEndedChild) {
    int hold[2];
    ASSERT_EQ(pipe(hold), 0);
    siginfo_t info = {};
    for (int child = 0; child < 3; ++child) {  // two that end, one that waits for a byte
        const pid_t pid = fork();
        if (pid == 0) _exit(child < 2 ? 0 : static_cast<int>(read(hold[0], &info, 1)));
        ASSERT_TRUE(child == 2 || waitid(P_PID, pid, &info, WEXITED | WNOWAIT) == 0);
    }
    EXPECT_EQ(ext_reaper(0), 0);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), 0) << "ended children left, or the running one gone";
    ASSERT_EQ(write(hold[1], "x", 1), 1);
    ASSERT_EQ(waitid(P_ALL, 0, &info, WEXITED | WNOWAIT), 0);
    errno = EDOM;  // installed for SIGCHLD, it must leave errno to the code it interrupted
    EXPECT_EQ(ext_reaper(0), -1);
    EXPECT_EQ(errno, EDOM);
}

TEST(WaitOnFd, ReportsWhatIsReady) {
    int sockets[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    ASSERT_EQ(write(sockets[1], "x", 1), 1);
    // Each gives the result, then the three flags: read, write, exception.
    auto wait_on = [](int fd, std::vector<int> flags, unsigned int usec) {
        const auto start = std::chrono::steady_clock::now();
        const int result = ext_WaitOnFd(fd, &flags[0], &flags[1], &flags[2], usec);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(result != 0 || waited >= std::chrono::microseconds(usec)) << "returned early";
        flags.insert(flags.begin(), result);
        return flags;
    };
    using R = std::vector<int>;
    EXPECT_EQ(wait_on(sockets[0], {1, 1, 0}, 100000), R({2, 1, 1, 0}));  // each set counts
    EXPECT_EQ(wait_on(sockets[0], {0, 0, 0}, 1500000), R({0, 0, 0, 0}));  // waits the limit
    EXPECT_EQ(wait_on(sockets[0], {7, 0, -1}, 0), R({1, 1, 0, 0}));      // a zero limit polls
    // A failed select leaves the sets as given: they must not read as ready.
    close(sockets[0]);
    EXPECT_EQ(wait_on(sockets[0], {1, 1, 1}, 100000), R({-1, 0, 0, 0}));
    // Descriptors that do not fit the sets are refused before any wait.
    EXPECT_EQ(wait_on(-1, {1, 1, 1}, 100000), R({-1, 1, 1, 1}));
    EXPECT_EQ(wait_on(1024, {1, 1, 1}, 100000), R({-1, 1, 1, 1}));
}

}  // namespace
