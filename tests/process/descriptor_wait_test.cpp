// Waiting on one descriptor for reading, writing or an exceptional condition.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <ostream>
#include <string>
#include <vector>

#include "hv_ext.h"
#include "seam.h"

namespace {

enum class Setup {
    kPipeWithData,  // the read end of a pipe holding a byte
    kEmptyPipe,     // the read end of an empty pipe
    kPipeWriteEnd,
    kSocket,        // a connected stream socket, no urgent data
    kUrgentData,    // a TCP socket with an urgent byte waiting
};

class Descriptors {
public:
    ~Descriptors() {
        for (int fd : fds_) close(fd);
    }

    int make(Setup setup) {
        int pair[2];
        switch (setup) {
        case Setup::kPipeWithData:
        case Setup::kEmptyPipe:
        case Setup::kPipeWriteEnd:
            EXPECT_EQ(pipe(pair), 0);
            keep(pair);
            if (setup == Setup::kPipeWithData) {
                EXPECT_EQ(write(pair[1], "x", 1), 1);
            }
            return setup == Setup::kPipeWriteEnd ? pair[1] : pair[0];
        case Setup::kSocket:
            EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
            keep(pair);
            return pair[0];
        case Setup::kUrgentData:
            return urgent_receiver();
        }
        return -1;
    }

private:
    void keep(const int (&pair)[2]) { fds_.insert(fds_.end(), {pair[0], pair[1]}); }

    int keep(int fd) {
        EXPECT_GE(fd, 0);
        fds_.push_back(fd);
        return fd;
    }

    int urgent_receiver() {
        const int listener = keep(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), len), 0);
        EXPECT_EQ(listen(listener, 1), 0);
        EXPECT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len), 0);
        const int sender = keep(socket(AF_INET, SOCK_STREAM, 0));
        EXPECT_EQ(connect(sender, reinterpret_cast<sockaddr *>(&addr), len), 0);
        const int receiver = keep(accept(listener, nullptr, nullptr));
        EXPECT_EQ(send(sender, "!", 1, MSG_OOB), 1);
        pollfd arrived = {receiver, POLLPRI, 0};
        EXPECT_EQ(poll(&arrived, 1, 5000), 1);
        return receiver;
    }

    std::vector<int> fds_;
};

struct WaitCase {
    const char *label;
    Setup setup;
    int flags[3];  // read, write, exception wanted
    unsigned int usec;
    int result;
    int after[3];
};

void PrintTo(const WaitCase &row, std::ostream *os) { *os << row.label; }

class WaitOnFd : public testing::TestWithParam<WaitCase> {};

TEST_P(WaitOnFd, ReportsWhatIsReady) {
    const WaitCase &c = GetParam();
    Descriptors fds;
    const int fd = fds.make(c.setup);
    int flags[3] = {c.flags[0], c.flags[1], c.flags[2]};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ext_WaitOnFd(fd, &flags[0], &flags[1], &flags[2], c.usec), c.result);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(std::vector<int>(flags, flags + 3), std::vector<int>(c.after, c.after + 3));
    if (c.result == 0) {
        EXPECT_GE(waited, std::chrono::microseconds(c.usec));
    }
}

constexpr unsigned int k100ms = 100000;

INSTANTIATE_TEST_SUITE_P(
    Descriptors, WaitOnFd,
    testing::Values(
        WaitCase{"PipeWithData", Setup::kPipeWithData, {1, 1, 0}, k100ms, 1, {1, 0, 0}},
        WaitCase{"EmptyPipeTimesOut", Setup::kEmptyPipe, {1, 0, 0}, k100ms, 0, {0, 0, 0}},
        WaitCase{"WriteEndOfAPipe", Setup::kPipeWriteEnd, {1, 1, 0}, k100ms, 1, {0, 1, 0}},
        WaitCase{"NoneWantedWaitsTheLimit", Setup::kPipeWithData, {0, 0, 0}, k100ms, 0, {0, 0, 0}},
        WaitCase{"ZeroLimitPollsOnce", Setup::kEmptyPipe, {1, 0, 1}, 0, 0, {0, 0, 0}},
        WaitCase{"ZeroLimitSeesReadiness", Setup::kPipeWithData, {1, 0, 0}, 0, 1, {1, 0, 0}},
        WaitCase{"AnyNonZeroFlagIsWanted", Setup::kPipeWithData, {7, 0, -1}, k100ms, 1, {1, 0, 0}},
        WaitCase{"LimitOverASecond", Setup::kPipeWithData, {1, 0, 0}, 1500000, 1, {1, 0, 0}},
        WaitCase{"LongestLimit", Setup::kPipeWithData, {1, 0, 0}, UINT_MAX, 1, {1, 0, 0}},
        WaitCase{"SocketWithoutUrgentData", Setup::kSocket, {0, 1, 1}, k100ms, 1, {0, 1, 0}},
        WaitCase{"UrgentDataIsAnException", Setup::kUrgentData, {0, 0, 1}, k100ms, 1, {0, 0, 1}},
        WaitCase{"EachSetCountsOnItsOwn", Setup::kUrgentData, {0, 1, 1}, k100ms, 2, {0, 1, 1}}),
    [](const auto &row) { return std::string(row.param.label); });

TEST(WaitOnFdFailure, DescriptorOutsideTheSetsIsRefusedWithoutWaiting) {
    for (int fd : {-1, 1024, INT_MAX, INT_MIN}) {
        int flags[3] = {1, 1, 1};
        errno = 0;
        EXPECT_EQ(ext_WaitOnFd(fd, &flags[0], &flags[1], &flags[2], k100ms), -1) << fd;
        EXPECT_EQ(errno, EBADF) << fd;
        EXPECT_EQ(std::vector<int>(flags, flags + 3), std::vector<int>({1, 1, 1})) << fd;
    }
    EXPECT_EQ(hv::test::calls("sxl_select"), 0);
}

TEST(WaitOnFdFailure, FailedWaitClearsTheFlagsAndIsNotRepeated) {
    Descriptors fds;
    const int fd = fds.make(Setup::kPipeWithData);
    hv::test::script("sxl_select", {.err = EINTR});
    int flags[3] = {1, 1, 1};
    EXPECT_EQ(ext_WaitOnFd(fd, &flags[0], &flags[1], &flags[2], k100ms), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(std::vector<int>(flags, flags + 3), std::vector<int>({0, 0, 0}));
    EXPECT_EQ(hv::test::calls("sxl_select"), 1);

    int closed[2];
    ASSERT_EQ(pipe(closed), 0);
    close(closed[0]);
    close(closed[1]);
    int read_flag = 1;
    EXPECT_EQ(ext_WaitOnFd(closed[0], &read_flag, nullptr, nullptr, k100ms), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(read_flag, 0);
}

// Linux's select ignores a descriptor past the process's descriptor table and
// times out, leaving its bit set in the set it hands back.
TEST(WaitOnFdFailure, UnopenedHighDescriptorIsNeverReady) {
    int flags[3] = {1, 1, 1};
    EXPECT_LE(ext_WaitOnFd(1000, &flags[0], &flags[1], &flags[2], k100ms), 0);
    EXPECT_EQ(std::vector<int>(flags, flags + 3), std::vector<int>({0, 0, 0}));
}

TEST(WaitOnFdFailure, NullFlagIsNotWanted) {
    Descriptors fds;
    const int fd = fds.make(Setup::kPipeWriteEnd);
    int write_flag = 1;
    EXPECT_EQ(ext_WaitOnFd(fd, nullptr, &write_flag, nullptr, k100ms), 1);
    EXPECT_EQ(write_flag, 1);
    EXPECT_EQ(ext_WaitOnFd(fd, nullptr, nullptr, nullptr, 0), 0);
}

}  // namespace
