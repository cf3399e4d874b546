// Signal handlers installed without restart, and the reaping of ended children.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "hv_ext.h"
#include "seam.h"

namespace {

std::atomic<int> g_caught{0};
void count_signal(int) { g_caught.fetch_add(1); }
void other_handler(int) {}

struct sigaction current(int signo) {
    struct sigaction now = {};
    EXPECT_EQ(sigaction(signo, nullptr, &now), 0);
    return now;
}

TEST(Signal, GivesBackTheHandlerItReplaces) {
    EXPECT_EQ(ext_signal(SIGALRM, count_signal), SIG_DFL);
    EXPECT_EQ(ext_signal(SIGALRM, other_handler), count_signal);
    EXPECT_EQ(ext_signal(SIGUSR1, SIG_IGN), SIG_DFL);
    EXPECT_EQ(ext_signal(SIGUSR1, SIG_DFL), SIG_IGN);
}

TEST(Signal, InstallsWithEmptyMaskAndNoFlags) {
    sigset_t full;
    sigfillset(&full);
    struct sigaction busy = {};
    busy.sa_handler = other_handler;
    busy.sa_mask = full;
    busy.sa_flags = SA_RESTART | SA_RESETHAND | SA_NODEFER;
    ASSERT_EQ(sigaction(SIGUSR2, &busy, nullptr), 0);

    EXPECT_EQ(ext_signal(SIGUSR2, count_signal), other_handler);
    const struct sigaction now = current(SIGUSR2);
    EXPECT_EQ(now.sa_handler, count_signal);
    EXPECT_EQ(now.sa_flags & (SA_RESTART | SA_RESETHAND | SA_NODEFER | SA_SIGINFO), 0);
    for (int signo = 1; signo < SIGRTMIN; ++signo)
        EXPECT_EQ(sigismember(&now.sa_mask, signo), 0) << signo;
}

TEST(Signal, RefusedChangeLeavesTheDispositionAlone) {
    ext_signal(SIGTERM, other_handler);
    for (int signo : {0, -1, 65, 1000, SIGKILL, SIGSTOP}) {
        errno = 0;
        EXPECT_EQ(ext_signal(signo, count_signal), SIG_ERR) << signo;
        EXPECT_EQ(errno, EINVAL) << signo;
    }
    EXPECT_EQ(current(SIGKILL).sa_handler, SIG_DFL);
    EXPECT_EQ(current(SIGTERM).sa_handler, other_handler);
}

TEST(Signal, HandlerStaysAndInterruptsABlockedRead) {
    ext_signal(SIGALRM, count_signal);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    for (int round = 1; round <= 2; ++round) {
        const itimerval in_50ms = {{0, 0}, {0, 50000}};
        ASSERT_EQ(setitimer(ITIMER_REAL, &in_50ms, nullptr), 0);
        char byte;
        errno = 0;
        EXPECT_EQ(read(fds[0], &byte, 1), -1);
        EXPECT_EQ(errno, EINTR);
        EXPECT_EQ(g_caught.load(), round);
    }
    close(fds[0]);
    close(fds[1]);
}

// A child that has ended but is not reaped yet.
void wait_until_ended(pid_t pid) {
    siginfo_t info = {};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
}

// Asks without reaping: the test must not do the reaper's work.
bool reaped(pid_t pid) {
    siginfo_t info = {};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == -1 &&
           errno == ECHILD;
}

TEST(Reaper, WithoutChildrenGivesMinusOneAtOnce) {
    errno = EDOM;
    EXPECT_EQ(ext_reaper(0), -1);
    EXPECT_EQ(errno, EDOM);
    EXPECT_EQ(hv::test::calls("sxl_waitpid"), 1);
}

TEST(Reaper, CollectsEveryEndedChildAndLeavesTheRunningOne) {
    int hold[2];
    ASSERT_EQ(pipe(hold), 0);
    pid_t ended[2];
    for (pid_t &pid : ended) {
        pid = fork();
        if (pid == 0) _exit(0);
    }
    const pid_t running = fork();
    if (running == 0) {
        char byte;
        close(hold[1]);
        _exit(static_cast<int>(read(hold[0], &byte, 1)));
    }
    close(hold[0]);
    for (pid_t pid : ended) wait_until_ended(pid);

    EXPECT_EQ(ext_reaper(0), 0);
    EXPECT_EQ(hv::test::calls("sxl_waitpid"), 3);
    for (pid_t pid : ended) EXPECT_TRUE(reaped(pid)) << pid;
    EXPECT_FALSE(reaped(running));

    close(hold[1]);
    wait_until_ended(running);
    EXPECT_EQ(ext_reaper(0), -1);
    EXPECT_TRUE(reaped(running));
}

TEST(Reaper, WorksAsTheChildSignalHandler) {
    // The documented way to install it: the one argument it ignores is the same.
    ext_signal(SIGCHLD, reinterpret_cast<ext_sighandler_t>(reinterpret_cast<void (*)()>(ext_reaper)));
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!reaped(pid) && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(reaped(pid));
}

}  // namespace
