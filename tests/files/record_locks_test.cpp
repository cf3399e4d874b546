// Whole-file record locks: against locks that another process holds with plain
// fcntl, as that process sees ours, and with the platform's failures scripted.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

// The library's one-second pauses are recorded here instead of being taken.
constinit unsigned g_pauses = 0;

}  // namespace

extern "C" __attribute__((visibility("default"))) unsigned int sleep(unsigned int seconds) {
    g_pauses += seconds;
    return 0;
}

namespace {

using hv::test::Fault;
using Clock = std::chrono::steady_clock;

constexpr char kFile[] = "/tmp/locked";
constexpr int kHeld = 11;
constexpr int kInterrupted = 4;
constexpr int kNoEntries = 37;

struct flock64 whole_file(short type) {
    struct flock64 lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Another process holding a whole-file lock on kFile until it is destroyed, or
// for hold_ms; it is ready once the constructor returns.
class Holder {
public:
    explicit Holder(short type, int hold_ms = -1) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) ADD_FAILURE() << "pipe";
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(kFile, type == F_RDLCK ? O_RDONLY : O_RDWR);
            struct flock64 lock = whole_file(type);
            const char ok = fd >= 0 && fcntl(fd, F_SETLK64, &lock) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &ok, 1);
            close(release[1]);
            pollfd until{release[0], POLLIN, 0};
            poll(&until, 1, hold_ms);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char ok = 'n';
        EXPECT_EQ(read(ready[0], &ok, 1), 1);
        EXPECT_EQ(ok, 'y') << "the other process could not take its lock";
        close(ready[0]);
    }
    ~Holder() {
        close(release_);
        waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_;
    int release_ = -1;
};

// What another process learns (F_GETLK) when it asks for a write lock at start.
struct flock64 seen_from_outside(off64_t start = 0) {
    int result[2];
    EXPECT_EQ(pipe(result), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(kFile, O_RDWR);
        struct flock64 lock = whole_file(F_WRLCK);
        lock.l_start = start;
        if (fd < 0 || fcntl(fd, F_GETLK64, &lock) != 0) lock.l_type = -1;
        (void)!write(result[1], &lock, sizeof lock);
        _exit(0);
    }
    close(result[1]);
    struct flock64 seen = {};
    EXPECT_EQ(read(result[0], &seen, sizeof seen), static_cast<ssize_t>(sizeof seen));
    close(result[0]);
    waitpid(pid, nullptr, 0);
    return seen;
}

// A process that sends count signals to this one, gap_ms apart.
class Signaller {
public:
    Signaller(int signo, int count, int gap_ms) {
        const pid_t target = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            for (int i = 0; i < count; ++i) {
                poll(nullptr, 0, gap_ms);
                kill(target, signo);
            }
            _exit(0);
        }
    }
    ~Signaller() { waitpid(pid_, nullptr, 0); }

private:
    pid_t pid_;
};

constinit volatile sig_atomic_t g_signals = 0;
void count_signal(int) { g_signals = g_signals + 1; }

ext_sighandler_t alarm_disposition() {
    struct sigaction now = {};
    sigaction(SIGALRM, nullptr, &now);
    return now.sa_handler;
}

class Locks : public testing::Test {
protected:
    void SetUp() override {
        hv::test::write_file(kFile, "some content");
        fd_ = open(kFile, O_RDWR);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override { close(fd_); }
    int fd_ = -1;
};

enum class Call { kRaw, kRawResume, kLock, kTimed };

int call(Call how, int fd, int kind, unsigned seconds = 5) {
    switch (how) {
    case Call::kRaw: return ext_RawLockFile(fd, kind, 0);
    case Call::kRawResume: return ext_RawLockFile(fd, kind, 1);
    case Call::kLock: return ext_LockFile(fd, kind);
    case Call::kTimed: return ext_TimedLockFile(fd, kind, seconds);
    }
    return INT_MIN;
}

constexpr Call kEveryCall[] = {Call::kRaw, Call::kRawResume, Call::kLock, Call::kTimed};

TEST_F(Locks, RefusedKindsNeverReachThePlatform) {
    ASSERT_EQ(ext_LockFile(fd_, HV_EXT_LOCK_WRITE), 0);
    const long before = hv::test::calls("sxl_rawfcntl");
    for (int kind : {0, 3, 4, 7, 9, 12, -1, -8, INT_MIN, INT_MAX})
        for (Call how : kEveryCall) EXPECT_EQ(call(how, fd_, kind), -1) << kind;
    EXPECT_EQ(hv::test::calls("sxl_rawfcntl"), before);
    EXPECT_EQ(seen_from_outside().l_type, F_WRLCK);
}

// Every lock covers the whole file from byte 0, bytes beyond its end included.
TEST_F(Locks, OthersSeeTheWholeFileLockedAndThenFree) {
    const struct {
        int kind;
        short type;
    } rows[] = {{1, F_RDLCK}, {2, F_WRLCK}, {5, F_RDLCK}, {6, F_WRLCK}};
    for (const auto &row : rows) {
        for (Call how : kEveryCall) {
            ASSERT_EQ(call(how, fd_, row.kind), 0) << row.kind;
            for (off64_t at : {off64_t{0}, off64_t{1} << 40}) {
                const struct flock64 seen = seen_from_outside(at);
                EXPECT_EQ(seen.l_type, row.type) << row.kind << " at " << at;
                EXPECT_EQ(seen.l_whence, SEEK_SET);
                EXPECT_EQ(seen.l_start, 0);
                EXPECT_EQ(seen.l_len, 0);
                EXPECT_EQ(seen.l_pid, getpid());
            }
            ASSERT_EQ(call(how, fd_, HV_EXT_LOCK_UNLOCK), 0);
            EXPECT_EQ(seen_from_outside().l_type, F_UNLCK);
        }
    }
}

TEST_F(Locks, ConflictsAndBadDescriptorsAnswerAtOnce) {
    const int read_only = open(kFile, O_RDONLY);
    const int write_only = open(kFile, O_WRONLY);
    const struct {
        const char *label;
        short held;  // by another process; F_UNLCK: none
        int fd, kind, expected;
    } rows[] = {
        {"write held, read without waiting", F_WRLCK, fd_, 5, kHeld},
        {"write held, write without waiting", F_WRLCK, fd_, 6, kHeld},
        {"read held, read without waiting", F_RDLCK, fd_, 5, 0},
        {"read held, write without waiting", F_RDLCK, fd_, 6, kHeld},
        {"read held, shared read", F_RDLCK, fd_, 1, 0},
        {"no descriptor", F_UNLCK, -1, 2, EBADF},
        {"unlock without descriptor", F_UNLCK, 999, 8, EBADF},
        {"write lock on a read-only descriptor", F_UNLCK, read_only, 2, EBADF},
        {"read lock on a write-only descriptor", F_UNLCK, write_only, 5, EBADF},
    };
    for (const auto &row : rows) {
        std::optional<Holder> holder;
        if (row.held != F_UNLCK) holder.emplace(row.held);
        for (Call how : kEveryCall) {
            EXPECT_EQ(call(how, row.fd, row.kind), row.expected) << row.label;
            call(how, row.fd, HV_EXT_LOCK_UNLOCK);
        }
    }
    close(read_only);
    close(write_only);
}

TEST_F(Locks, WaitingKindsWaitUntilTheOtherProcessLetsGo) {
    for (Call how : kEveryCall) {
        Holder holder(F_WRLCK, 300);
        const auto start = Clock::now();
        EXPECT_EQ(call(how, fd_, HV_EXT_LOCK_WRITE), 0);
        EXPECT_GE(elapsed_ms(start), 250);
        EXPECT_EQ(seen_from_outside().l_type, F_WRLCK);
        EXPECT_EQ(alarm(0), 0u) << "no alarm is left armed";
        ASSERT_EQ(call(how, fd_, HV_EXT_LOCK_UNLOCK), 0);
    }
}

// Signals come from another process while the wait is blocked: without resume
// the first ends it with 4, with resume the wait goes on through all of them.
TEST_F(Locks, ASignalEndsAWaitOnlyWhenNotResumed) {
    ASSERT_NE(ext_signal(SIGUSR1, count_signal), SIG_ERR);
    const struct {
        Call how;
        int signals, expected;
    } rows[] = {
        {Call::kRaw, 1, kInterrupted},
        {Call::kTimed, 1, kInterrupted},
        {Call::kRawResume, 3, 0},
        {Call::kLock, 3, 0},
    };
    for (const auto &row : rows) {
        g_signals = 0;
        // Long enough to outlast the signals; a signal that came too early shows
        // as a failure rather than as a wait without end.
        Holder holder(F_WRLCK, row.expected == 0 ? 600 : 5000);
        Signaller signaller(SIGUSR1, row.signals, 100);
        EXPECT_EQ(call(row.how, fd_, HV_EXT_LOCK_WRITE, 30), row.expected);
        EXPECT_GE(g_signals, 1);
        call(row.how, fd_, HV_EXT_LOCK_UNLOCK);
    }
}

TEST_F(Locks, TimedLockGivesUpWhenTheTimeRunsOut) {
    ASSERT_NE(signal(SIGALRM, SIG_DFL), SIG_ERR);
    Holder holder(F_WRLCK);
    const auto start = Clock::now();
    EXPECT_EQ(ext_TimedLockFile(fd_, HV_EXT_LOCK_WRITE, 1), kInterrupted);
    EXPECT_GE(elapsed_ms(start), 900);
    EXPECT_LT(elapsed_ms(start), 10000);
    EXPECT_EQ(alarm_disposition(), SIG_IGN) << "the default comes back as ignore";
}

TEST_F(Locks, TimedLockPutsBackTheAlarmHandlerWithoutItsFlags) {
    struct sigaction handler = {};
    handler.sa_handler = count_signal;
    handler.sa_flags = SA_RESTART;
    sigaddset(&handler.sa_mask, SIGUSR1);
    const struct {
        ext_sighandler_t before, after;
    } rows[] = {{SIG_DFL, SIG_IGN}, {SIG_IGN, SIG_IGN}, {count_signal, count_signal}};
    for (const auto &row : rows) {
        handler.sa_handler = row.before;
        ASSERT_EQ(sigaction(SIGALRM, &handler, nullptr), 0);
        alarm(100);
        EXPECT_EQ(ext_TimedLockFile(fd_, HV_EXT_LOCK_WRITE, 5), 0);
        EXPECT_EQ(alarm(0), 0u) << "a pending alarm is cancelled";
        struct sigaction now = {};
        sigaction(SIGALRM, nullptr, &now);
        EXPECT_EQ(now.sa_handler, row.after);
        EXPECT_EQ(now.sa_flags & SA_RESTART, 0);
        EXPECT_FALSE(sigismember(&now.sa_mask, SIGUSR1));
    }
}

// Platform failures scripted through the seam; the pauses are counted, not taken.
TEST_F(Locks, PlatformFailuresFoldAndRetryAsDocumented) {
    const struct {
        const char *label;
        Call how;
        int kind;
        unsigned seconds;
        Fault fault;
        int expected;
        long attempts;
        unsigned pauses;
    } rows[] = {
        {"EAGAIN", Call::kRaw, 6, 0, {.err = EAGAIN}, kHeld, 1, 0},
        {"EACCES", Call::kRaw, 5, 0, {.err = EACCES}, kHeld, 1, 0},
        {"EDEADLK", Call::kLock, 2, 0, {.err = EDEADLK}, EDEADLK, 1, 0},
        {"EINTR, not resumed", Call::kRaw, 2, 0, {.times = 2, .err = EINTR}, kInterrupted, 1, 0},
        {"EINTR, resumed", Call::kRawResume, 2, 0, {.times = 2, .err = EINTR}, 0, 3, 0},
        {"EINTR, locking", Call::kLock, 1, 0, {.times = 2, .err = EINTR}, 0, 3, 0},
        {"EINTR, timed", Call::kTimed, 2, 5, {.times = 2, .err = EINTR}, kInterrupted, 1, 0},
        {"ENOLCK, raw", Call::kRawResume, 2, 0, {.times = 2, .err = ENOLCK}, kNoEntries, 1, 0},
        {"ENOLCK, write retried", Call::kLock, 2, 0, {.times = 2, .err = ENOLCK}, 0, 3, 2},
        {"ENOLCK, read retried", Call::kLock, 1, 0, {.times = 2, .err = ENOLCK}, 0, 3, 2},
        {"ENOLCK, no wait", Call::kLock, 5, 0, {.times = 2, .err = ENOLCK}, kHeld, 1, 0},
        {"ENOLCK, unlock", Call::kLock, 8, 0, {.times = 2, .err = ENOLCK}, kHeld, 1, 0},
        {"ENOLCK, timed retried", Call::kTimed, 2, 5, {.times = 2, .err = ENOLCK}, 0, 3, 2},
        {"ENOLCK, timed no wait", Call::kTimed, 6, 5, {.times = 2, .err = ENOLCK}, kHeld, 1, 0},
        // The pauses count against the seconds given: three attempts in three.
        {"ENOLCK, timed out", Call::kTimed, 2, 3, {.times = Fault::kForever, .err = ENOLCK},
         kNoEntries, 3, 2},
        {"ENOLCK, one second", Call::kTimed, 1, 1, {.times = Fault::kForever, .err = ENOLCK},
         kNoEntries, 1, 0},
        {"ENOLCK, no limit", Call::kTimed, 2, 0, {.times = Fault::kForever, .err = ENOLCK},
         kNoEntries, 1, 0},
    };
    for (const auto &row : rows) {
        hv::test::script("sxl_rawfcntl", row.fault);
        const long before = hv::test::calls("sxl_rawfcntl");
        g_pauses = 0;
        EXPECT_EQ(call(row.how, fd_, row.kind, row.seconds), row.expected) << row.label;
        EXPECT_EQ(hv::test::calls("sxl_rawfcntl") - before, row.attempts) << row.label;
        EXPECT_EQ(g_pauses, row.pauses) << row.label;
        hv::test::clear_faults();
        ASSERT_EQ(ext_RawLockFile(fd_, HV_EXT_LOCK_UNLOCK, 0), 0);
    }
}

}  // namespace
