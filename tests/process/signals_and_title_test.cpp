// What no platform failure shows: signals without restart, wait limits, the process title.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "hv_ext.h"

namespace {

using namespace std::string_literals;

volatile sig_atomic_t g_caught = 0;
void count_signal(int) { g_caught = g_caught + 1; }

// Without restart a blocked call fails with EINTR; the handler stays after it has run.
TEST(SignalAndWait, InterruptsAndKeepsToTheLimit) {
    int sockets[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    EXPECT_EQ(ext_signal(SIGALRM, count_signal), SIG_DFL);
    alarm(1);
    char byte;
    EXPECT_EQ(read(sockets[0], &byte, 1), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_caught, 1);
    EXPECT_EQ(ext_signal(SIGALRM, SIG_IGN), count_signal);
    EXPECT_EQ(ext_signal(SIGKILL, count_signal), SIG_ERR);
    // Each gives the result, then the three flags: read, write, exception.
    auto wait_on = [](int fd, std::vector<int> flags, unsigned int usec) {
        const auto start = std::chrono::steady_clock::now();
        const int result = ext_WaitOnFd(fd, &flags[0], &flags[1], &flags[2], usec);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(result != 0 || waited >= std::chrono::microseconds(usec)) << "returned early";
        flags.insert(flags.begin(), result);
        return flags;
    };
    EXPECT_EQ(wait_on(sockets[0], {1, 0, 1}, 1500000), std::vector<int>({0, 0, 0, 0}));
    EXPECT_EQ(wait_on(sockets[0], {1, 0, 0}, 0), std::vector<int>({0, 0, 0, 0}));  // polls
    // Descriptors that do not fit the sets are refused before any wait.
    EXPECT_EQ(wait_on(-1, {1, 1, 1}, 100000), std::vector<int>({-1, 1, 1, 1}));
    EXPECT_EQ(wait_on(1024, {1, 1, 1}, 100000), std::vector<int>({-1, 1, 1, 1}));
}

struct Title {
    std::string block;  // strings with their terminators, laid out as the kernel does
    size_t args;  // how many of them are arguments
    int argc;
    unsigned room;
};

void PrintTo(const Title &row, std::ostream *os) { *os << row.argc << " room " << row.room; }

class TitleRoom : public testing::TestWithParam<Title> {};

TEST_P(TitleRoom, TitlesShorterThanTheRoomAreWritten) {
    const Title &row = GetParam();
    std::vector<char> block(row.block.begin(), row.block.end());  // sized exactly, for ASan
    std::vector<char *> argv, env;
    for (char *p = block.data(); p < block.data() + block.size(); p += strlen(p) + 1)
        (argv.size() < row.args ? argv : env).push_back(p);
    const std::vector<std::string> variables(env.begin(), env.end());
    argv.push_back(nullptr);
    env.push_back(nullptr);
    environ = env.data();
    ext_setProcTitle("x");             // before preparation
    ext_initSetProcTitle(2, nullptr);  // nowhere to write: not even a preparation
    ext_initSetProcTitle(row.argc, argv.data());
    ext_setProcTitle(nullptr);
    ext_setProcTitle(std::string(row.room, 'T').c_str());
    EXPECT_EQ(std::string(block.begin(), block.end()), row.block) << "nothing may be written yet";
    if (row.room > 0) {
        ext_setProcTitle(std::string(row.room - 1, 'T').c_str());
        EXPECT_EQ(std::string(block.begin(), block.end()),
                  std::string(row.room - 1, 'T') + '\0' + row.block.substr(row.room));
    }
    // The environment reads the same, whatever the title overwrote.
    EXPECT_EQ(std::vector<std::string>(environ, environ + variables.size()), variables);
    EXPECT_EQ(environ[variables.size()], nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TitleRoom,
    testing::Values(Title{"abcd\0ef\0"s, 2, 2, 6}, Title{"abcd\0ef\0A=1\0BB=22\0"s, 2, 2, 14},
                    Title{"abcd\0ef\0A=1\0"s, 2, 99, 9},  // a null argument ends the vector
                    Title{"abcd\0A=1\0BB=22\0"s, 1, 0, 8}, Title{"A=1\0"s, 0, 0, 0}));

}  // namespace
