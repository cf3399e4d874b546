// Record locks and file copies; fault_sweep_test.cpp fails each platform call in turn.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

// The library's one-second pauses are counted here instead of being taken.
constinit unsigned g_pauses = 0;
extern "C" __attribute__((visibility("default"))) unsigned int sleep(unsigned int seconds) {
    g_pauses += seconds;
    return 0;
}

namespace {

using hv::test::calls;
using hv::test::write_file;

// Another process's read lock, for hold_ms, on a byte far beyond the end of fd's file,
// which only a lock to the end of the file however far it grows meets. Gives its pid.
pid_t hold(int fd, int hold_ms) {
    struct flock64 lock = {F_RDLCK, SEEK_SET, 1LL << 40, 1, 0};
    const pid_t pid = fork();
    if (pid == 0) {
        if (fcntl(fd, F_SETLK64, &lock) != 0) _exit(1);
        poll(nullptr, 0, hold_ms);
        _exit(0);
    }
    do {  // until a write lock there would meet the other process's
        lock.l_type = F_WRLCK;
    } while (fcntl(fd, F_GETLK64, &lock) == 0 && lock.l_type == F_UNLCK);
    return pid;
}

void on_alarm(int) {}

// The four ways to ask: (descriptor, kind, seconds for the timed one).
using Lock = int (*)(int, int, unsigned);
constexpr Lock kRaw = [](int fd, int kind, unsigned) { return ext_RawLockFile(fd, kind, 0); };
constexpr Lock kResume = [](int fd, int kind, unsigned) { return ext_RawLockFile(fd, kind, 1); };
constexpr Lock kLock = [](int fd, int kind, unsigned) { return ext_LockFile(fd, kind); };
constexpr Lock kTimed = [](int fd, int kind, unsigned s) { return ext_TimedLockFile(fd, kind, s); };

// Write kinds meet the other process's read lock and wait, a timed one until the alarm;
// it cancels a pending alarm and puts back SIGALRM's handler, the default as ignore.
TEST(Locks, AgainstAnotherProcessesLock) {
    write_file("/tmp/locked", "some content");
    const int fd = open("/tmp/locked", O_RDWR);
    const struct {
        Lock lock;
        int kind;
        unsigned seconds;
        int hold_ms, expected;
        ext_sighandler_t before, after;  // SIGALRM's handler
    } rows[] = {
        {kRaw, 5, 0, 300, 0, SIG_DFL, SIG_DFL},  // read locks share
        {kLock, 6, 0, 300, EAGAIN, SIG_DFL, SIG_DFL},
        {kTimed, 6, 5, 300, EAGAIN, SIG_IGN, SIG_IGN},
        {kRaw, 2, 0, 300, 0, SIG_DFL, SIG_DFL},
        {kLock, 2, 0, 300, 0, SIG_DFL, SIG_DFL},
        {kTimed, 2, 5, 300, 0, on_alarm, on_alarm},
        {kTimed, 2, 1, 1500, EINTR, SIG_DFL, SIG_IGN},
    };
    for (const auto &row : rows) {
        ASSERT_NE(signal(SIGALRM, row.before), SIG_ERR);
        if (row.lock == kTimed) alarm(100);
        const pid_t holder = hold(fd, row.hold_ms);
        const long result = row.lock(fd, row.kind, row.seconds);
        EXPECT_EQ((std::vector<long>{result, long(alarm(0))}), (std::vector<long>{row.expected, 0}))
            << "row " << &row - rows;
        EXPECT_EQ(signal(SIGALRM, SIG_DFL), row.after) << "row " << &row - rows;
        waitpid(holder, nullptr, 0);
        ASSERT_EQ(ext_RawLockFile(fd, HV_EXT_LOCK_UNLOCK, 0), 0);
    }
}

// Each row gives the result, the platform calls made and the one-second pauses, which
// count against a timed lock's seconds: three attempts in three.
TEST(Locks, RefusedKindsAndPlatformFailures) {
    write_file("/tmp/locked", "some content");
    const int fd = open("/tmp/locked", O_RDWR);
    constexpr int kAll = hv::test::kForever;
    const struct {
        Lock lock;
        int kind;
        unsigned seconds;
        int err, times;  // of the scripted failures
        std::vector<long> expected;
    } rows[] = {
        {kLock, 0, 0, 0, 0, {-1, 0, 0}},       {kTimed, INT_MAX, 5, 0, 0, {-1, 0, 0}},
        {kRaw, 5, 0, EACCES, 1, {EAGAIN, 1, 0}}, {kLock, 2, 0, EDEADLK, 1, {EDEADLK, 1, 0}},
        {kRaw, 2, 0, EINTR, 2, {EINTR, 1, 0}}, {kResume, 2, 0, EINTR, 2, {0, 3, 0}},
        {kLock, 1, 0, EINTR, 2, {0, 3, 0}},    {kTimed, 2, 5, EINTR, 2, {EINTR, 1, 0}},
        {kLock, 2, 0, ENOLCK, 2, {0, 3, 2}},   {kLock, 1, 0, ENOLCK, 2, {0, 3, 2}},
        {kLock, 8, 0, ENOLCK, 2, {EAGAIN, 1, 0}}, {kTimed, 2, 5, ENOLCK, 2, {0, 3, 2}},
        {kTimed, 6, 5, ENOLCK, 2, {EAGAIN, 1, 0}},
        {kTimed, 2, 3, ENOLCK, kAll, {ENOLCK, 3, 2}}, {kTimed, 1, 1, ENOLCK, kAll, {ENOLCK, 1, 0}},
        {kTimed, 2, 0, ENOLCK, kAll, {ENOLCK, 1, 0}},
    };
    for (const auto &row : rows) {
        hv::test::script("sxl_rawfcntl", row.err, row.times);
        const long before = hv::test::calls("sxl_rawfcntl");
        g_pauses = 0;
        const long result = row.lock(fd, row.kind, row.seconds);
        const long attempts = hv::test::calls("sxl_rawfcntl") - before;
        EXPECT_EQ((std::vector<long>{result, attempts, long(g_pauses)}), row.expected)
            << "row " << &row - rows;
        hv::test::clear_faults();
    }
}

constexpr char kSource[] = "/srv/mail/source";
constexpr char kTarget[] = "/tmp/copy";

// Whole chunks, room reserved first, bits and owner; an existing target keeps bits and tail.
TEST(Copy, CopiesBytesModeAndOwner) {
    umask(022);
    const long uid = hv::test::real_root() ? 4242 : long(getuid());  // a user namespace maps ours
    const long gid = hv::test::real_root() ? 4242 : long(getgid());
    std::string bytes(8193, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    write_file(kTarget, "0123456789abcdefghij");
    ASSERT_EQ(chmod(kTarget, 0600), 0);
    const struct {
        std::size_t size;
        long from, to, reads, writes;  // the modes of source and target
        std::string tail;
    } rows[] = {{10, 0640, 0600, 2, 1, "abcdefghij"}, {0, 0750, 0750, 1, 0, ""},
                {8192, 0604, 0604, 2, 1, ""}, {8193, 0666, 0644, 3, 2, ""}};
    for (const auto &row : rows) {
        write_file(kSource, bytes.substr(0, row.size));
        ASSERT_EQ(chmod(kSource, row.from), 0);
        ASSERT_EQ(chown(kSource, uid, gid), 0);
        const long reads = calls("sxl_read"), writes = calls("sxl_write");
        const long reserved = calls("sxl_prealloc");
        EXPECT_EQ(ext_copy("~/source", kTarget, nullptr), 0);
        struct stat st {};
        ASSERT_EQ(stat(kTarget, &st), 0);
        std::ifstream in(kTarget, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
                  bytes.substr(0, row.size) + row.tail)
            << row.size;
        const std::vector<long> got = {long(st.st_mode & 07777), long(st.st_uid), long(st.st_gid),
                                       calls("sxl_read") - reads, calls("sxl_write") - writes,
                                       calls("sxl_prealloc") - reserved};
        EXPECT_EQ(got, (std::vector<long>{row.to, uid, gid, row.reads, row.writes, 1}))
            << row.size;
        hv::test::remove_path(kTarget);
    }
}

// -1 and the error number, or -2 and 820 when the bytes cannot be read or written.
TEST(Copy, FailuresGiveTheirResultAndError) {
    ASSERT_EQ(mkdir("/srv/small", 0755), 0);
    ASSERT_EQ(mount("tmpfs", "/srv/small", "tmpfs", 0, "size=16k"), 0);
    write_file(kSource, std::string(64 * 1024, 'x'));
    const std::string too_long(HV_EXT_PATH_MAX, 'n');
    const struct {
        const char *from, *to;
        int result, error;
        bool made;  // the target exists afterwards (such rows come last)
    } rows[] = {
        {"~/none", kTarget, -1, ENOENT, false},   {"~nobody/x", kTarget, -1, ENOENT, false},
        {too_long.c_str(), kTarget, -1, ENAMETOOLONG, false},
        {nullptr, kTarget, -1, EINVAL, false},    {"~/source", nullptr, -1, EINVAL, false},
        {"~/sys", kTarget, -2, HV_EXT_COPY_FAILED, true},
        {"~/source", "/srv/small/copy", -2, HV_EXT_COPY_FAILED, true},
    };
    for (const auto &row : rows) {
        int error = -12345;
        const long result = ext_copy(row.from, row.to, &error);
        const std::vector<long> got = {result, error, access(row.to ? row.to : kTarget, F_OK) == 0};
        EXPECT_EQ(got, (std::vector<long>{row.result, row.error, row.made}))
            << "row " << &row - rows;
        EXPECT_EQ(ext_copy(row.from, row.to, nullptr), row.result) << "row " << &row - rows;
    }
}

}  // namespace
