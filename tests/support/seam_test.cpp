// The fault seam itself: scripts fire on exactly the calls they name, counters
// hold under threads, and the failure values are the ones the calls document.
#include "seam.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "hq.h"
#include "sxl.h"

namespace hv::test {
namespace {

class SeamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/seam_XXXXXX";
        int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = name;
    }
    void TearDown() override
    {
        clear_faults();
        reset_time();
        unlink(path_.c_str());
    }
    std::string path_;
};

// One call of the named kind: true when it succeeded. A failure must carry the
// scripted errno.
bool attempt(const char *call, const char *path, int err)
{
    std::string which = call;
    bool ok = false;
    int result_err = 0;
    if (which == "sxl_realloc") {
        void *block = sxl_malloc(8);
        void *grown = sxl_realloc(block, 4096);
        ok = grown != nullptr;
        result_err = errno;
        sxl_free(ok ? grown : block);
    } else if (which == "sxl_open") {
        int fd = sxl_open(path, SXL_O_RDONLY, 0);
        ok = fd >= 0;
        result_err = errno;
        if (ok)
            sxl_close(fd);
    } else if (which == "sxl_prealloc") {
        int fd = sxl_open(path, SXL_O_RDWR_CREAT, 0600);
        int r = sxl_prealloc(fd, 100);
        ok = r == 0;
        result_err = r;
        EXPECT_TRUE(ok || errno == r);
        sxl_close(fd);
    } else if (which == "sxl_pthread_mutex_lock") {
        pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
        int r = sxl_pthread_mutex_lock(&mutex);
        ok = r == 0;
        result_err = r;
        if (ok)
            sxl_pthread_mutex_unlock(&mutex);
    } else {
        ADD_FAILURE() << "no attempt for " << call;
    }
    if (!ok) {
        EXPECT_EQ(result_err, err) << call;
    }
    return ok;
}

struct ScriptCase {
    const char *call;
    Fault fault;
    const char *outcomes;  // one letter per call: '.' succeeds, 'x' fails
};

TEST_F(SeamTest, ScriptedFaultsFireOnTheCallsTheyName)
{
    const ScriptCase cases[] = {
        {"sxl_realloc", {.skip = 2, .times = 1, .err = ENOMEM}, "..x.."},
        {"sxl_open", {.skip = 1, .times = 2, .err = EMFILE}, ".xx.."},
        {"sxl_open", {.times = Fault::kForever, .err = EACCES}, "xxxxx"},
        {"sxl_open", {.times = 0, .err = EACCES}, "....."},
        {"sxl_prealloc", {.times = 1, .err = ENOSPC}, "x...."},
        {"sxl_pthread_mutex_lock", {.skip = 3, .times = 1, .err = EAGAIN}, "...x."},
    };
    for (const ScriptCase &c : cases) {
        script(c.call, c.fault);
        std::string seen;
        for (size_t i = 0; c.outcomes[i] != '\0'; ++i)
            seen += attempt(c.call, path_.c_str(), c.fault.err) ? '.' : 'x';
        EXPECT_EQ(seen, c.outcomes) << c.call << " skip " << c.fault.skip;
        clear_faults();
    }
}

TEST_F(SeamTest, ShortCountsMoveFewerBytesForReal)
{
    int fds[2];
    ASSERT_EQ(sxl_pipe(fds), 0);
    script("sxl_write", {.times = 1, .short_count = 4});
    EXPECT_EQ(sxl_write(fds[1], "abcdefgh", 8), 4);
    EXPECT_EQ(sxl_write(fds[1], "XY", 2), 2);
    script("sxl_read", {.times = 1, .short_count = 3});
    char buf[16] = {};
    EXPECT_EQ(sxl_read(fds[0], buf, sizeof buf), 3);
    EXPECT_EQ(sxl_read(fds[0], buf + 3, sizeof buf - 3), 3);
    EXPECT_STREQ(buf, "abcdXY");
    sxl_close(fds[0]);
    sxl_close(fds[1]);
}

TEST_F(SeamTest, FailedCloseStillReleasesTheDescriptor)
{
    int fd = sxl_open(path_.c_str(), SXL_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    script("sxl_close", {.err = EIO});
    EXPECT_EQ(sxl_close(fd), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
}

TEST_F(SeamTest, CountsAndFaultBudgetsHoldAcrossThreads)
{
    constexpr int kThreads = 8;
    constexpr int kEach = 500;
    long before = calls("sxl_malloc");
    script("sxl_malloc", {.skip = 100, .times = 250, .err = ENOMEM});
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < kEach; ++i) {
                void *p = sxl_malloc(16);
                if (p == nullptr)
                    ++failures;
                sxl_free(p);
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 250);
    EXPECT_EQ(calls("sxl_malloc") - before, kThreads * kEach);
}

TEST_F(SeamTest, StoppedClockAndPretendedValgrind)
{
    set_time(604800 * 3 + 5);
    time_t out = 0;
    EXPECT_EQ(sxl_time(&out), 604800 * 3 + 5);
    EXPECT_EQ(out, 604800 * 3 + 5);
    reset_time();
    EXPECT_GT(sxl_time(nullptr), 604800 * 3 + 5);

    pretend_valgrind(1);
    EXPECT_EQ(hq_UsingValgrind(), 1);
    reset_valgrind();
    EXPECT_EQ(hq_UsingValgrind(), 0);
    EXPECT_EQ(calls("hq_UsingValgrind"), 2);
}

TEST(SeamDeathTest, CallsWithoutFailureValueCannotBeScripted)
{
    EXPECT_DEATH(script("sxl_getuid", {}), "no failure value");
    EXPECT_DEATH(script("sxl_nonesuch", {}), "no such call");
}

}  // namespace
}  // namespace hv::test
