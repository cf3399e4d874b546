// Record locks and file copies, then every routine of the family under every failure
// of each of its platform calls (tests/support/sweep.h).

#include <poll.h>

#include <iterator>

#include "prelude.h"

namespace {

using hv::test::calls;
using hv::test::Outcome;

constexpr char kSource[] = "source";  // in the home area, the working directory
constexpr char kTarget[] = "copy";
constexpr int kUntouched = -12345;
int g_from = -1, g_to = -1, g_error = kUntouched;

std::string contents(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_source(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    hv::test::write_file(kSource, bytes);
}

// Another process's read lock, for hold_ms, on a byte far beyond the end of fd's file,
// which only a lock to the end of the file however far it grows meets. Gives its pid,
// or -1 when it could not take the lock.
pid_t hold(int fd, int hold_ms) {
    struct flock64 lock = {F_RDLCK, SEEK_SET, 1LL << 40, 1, 0};
    const pid_t pid = fork();
    if (pid == 0) {
        if (fcntl(fd, F_SETLK64, &lock) != 0) _exit(1);
        poll(nullptr, 0, hold_ms);
        _exit(0);
    }
    do {  // until a write lock there would meet the other process's, or it has given up
        lock.l_type = F_WRLCK;
    } while (fcntl(fd, F_GETLK64, &lock) == 0 && lock.l_type == F_UNLCK &&
             waitpid(pid, nullptr, WNOHANG) == 0);
    return lock.l_type == F_UNLCK ? -1 : pid;
}

void on_alarm(int) {}

// The three ways to ask: (descriptor, kind, seconds for the timed one).
using Lock = int (*)(int, int, unsigned);
constexpr Lock kRaw = [](int fd, int kind, unsigned) { return ext_RawLockFile(fd, kind, 0); };
constexpr Lock kLock = [](int fd, int kind, unsigned) { return ext_LockFile(fd, kind); };
constexpr Lock kTimed = [](int fd, int kind, unsigned s) { return ext_TimedLockFile(fd, kind, s); };

// A row: how to ask, the kind, a timed lock's seconds, how long another process holds a read
// lock (read kinds share it, write kinds wait, a timed one until its alarm), the scripted
// failures (errno, times); then the result, the platform calls and the one-second pauses, which
// count against a timed lock's seconds. Only a timed lock touches the alarm: it cancels a
// pending one and puts back SIGALRM's handler (the default as ignore). Refused kinds ask nothing.
TEST(Locks, AgainstAnotherProcessAndUnderPlatformFailures) {
    const int fd = open(kSource, O_RDWR | O_CREAT, 0600);
    constexpr int kAll = hv::test::kForever;
    const std::tuple<Lock, int, unsigned, int, int, int, std::vector<long>> rows[] = {
        {kRaw, 5, 0, 300, 0, 0, {0, 1, 0}},    {kLock, 6, 0, 300, 0, 0, {EAGAIN, 1, 0}},
        {kTimed, 2, 5, 300, 0, 0, {0, 1, 0}},  {kTimed, 2, 1, 1500, 0, 0, {EINTR, 1, 0}},
        {kTimed, 1, 1, 1500, 0, 0, {0, 1, 0}}, {kLock, 0, 0, 0, 0, 0, {-1, 0, 0}},
        {kRaw, 3, 0, 0, 0, 0, {-1, 0, 0}},     {kTimed, -1, 5, 0, 0, 0, {-1, 0, 0}},
        {kRaw, 5, 0, 0, EACCES, 1, {EAGAIN, 1, 0}}, {kLock, 2, 0, 0, EDEADLK, 1, {EDEADLK, 1, 0}},
        {kRaw, 2, 0, 0, EINTR, 2, {EINTR, 1, 0}},   {kLock, 1, 0, 0, EINTR, 2, {0, 3, 0}},
        {kLock, 1, 0, 0, ENOLCK, 2, {0, 3, 2}},     {kLock, 8, 0, 0, ENOLCK, 2, {EAGAIN, 1, 0}},
        {kTimed, 6, 5, 0, ENOLCK, 2, {EAGAIN, 1, 0}},
        {kTimed, 2, 3, 0, ENOLCK, kAll, {ENOLCK, 3, 2}},
        {kTimed, 1, 1, 0, ENOLCK, kAll, {ENOLCK, 1, 0}},
        {kTimed, 2, 0, 0, ENOLCK, kAll, {ENOLCK, 1, 0}},
    };
    for (const auto &row : rows) {
        const auto &[lock, kind, seconds, hold_ms, err, times, expected] = row;
        ext_signal(SIGALRM, on_alarm);
        alarm(100);
        const pid_t holder = hold_ms != 0 ? hold(fd, hold_ms) : 0;
        hv::test::script("sxl_rawfcntl", err, times);
        const long before = calls("sxl_rawfcntl");
        hv::test::set_time(0);  // the library's pauses move the stopped clock, at once
        const long result = lock(fd, kind, seconds);
        const std::vector<long> got = {result, calls("sxl_rawfcntl") - before,
                                       long(hv::test::stopped_time())};
        const bool restored = holder >= 0 && (lock != kTimed || alarm(0) == 0) &&
                              ext_signal(SIGALRM, SIG_DFL) == on_alarm;
        EXPECT_EQ(std::make_pair(got, restored), std::make_pair(expected, true))
            << "row " << &row - rows;
        hv::test::clear_faults();
        if (holder > 0) waitpid(holder, nullptr, 0);
        ASSERT_EQ(ext_RawLockFile(fd, HV_EXT_LOCK_UNLOCK, 0), 0);
    }
}

TEST(Copy, BytesModeAndOwnerElseTheError) {
    umask(022);
    const long uid = hv::test::real_root() ? 4242 : long(getuid());  // a user namespace maps ours
    const long gid = hv::test::real_root() ? 4242 : long(getgid());
    hv::test::write_file(kTarget, "0123456789abcdefghij");
    ASSERT_EQ(chmod(kTarget, 0600), 0);
    // Whole chunks, room reserved first, bits and owner; an existing target keeps bits and tail.
    // A row: the size, the modes of source and target, the reads and writes, the tail kept.
    const std::tuple<std::size_t, long, long, long, long, std::string> copies[] = {
        {10, 0640, 0600, 2, 1, "abcdefghij"}, {0, 0750, 0750, 1, 0, ""},
        {8192, 0604, 0604, 2, 1, ""},         {8193, 0666, 0644, 3, 2, ""}};
    for (const auto &[size, from, to, chunks_read, chunks_written, tail] : copies) {
        write_source(size);
        ASSERT_EQ(chmod(kSource, from), 0);
        ASSERT_EQ(chown(kSource, uid, gid), 0);
        const long reads = calls("sxl_read"), writes = calls("sxl_write");
        const long reserved = calls("sxl_prealloc");
        EXPECT_EQ(ext_copy("~/source", kTarget, nullptr), 0);
        struct stat st {};
        ASSERT_EQ(stat(kTarget, &st), 0);
        const std::vector<long> got = {long(st.st_mode & 07777), long(st.st_uid), long(st.st_gid),
                                       calls("sxl_read") - reads, calls("sxl_write") - writes,
                                       calls("sxl_prealloc") - reserved,
                                       contents(kTarget) == contents(kSource) + tail};
        EXPECT_EQ(got, (std::vector<long>{to, uid, gid, chunks_read, chunks_written, 1, 1}));
        hv::test::remove_path(kTarget);
    }
    // -1 and the error number, no target made; the error's place may be left out.
    const std::string unresolved = "~nobody/" + std::string(HV_EXT_PATH_MAX - 9, 'n');
    const std::string too_long(HV_EXT_PATH_MAX, 'n');
    const std::tuple<const char *, const char *, int> refused[] = {
        {unresolved.c_str(), kTarget, ENOENT}, {too_long.c_str(), kTarget, ENAMETOOLONG},
        {nullptr, kTarget, EINVAL}, {"~/source", nullptr, EINVAL}};
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        const auto &[from, to, err] = refused[i];
        int error = kUntouched;
        // In a braced list each is evaluated after the one before.
        EXPECT_EQ((std::vector<int>{ext_copy(from, to, &error), error, ext_copy(from, to, nullptr),
                                    access(kTarget, F_OK)}),
                  (std::vector<int>{-1, err, -1, -1}))
            << "row " << i;
    }
}

// Three reads' worth, so that a failure can come after bytes have moved; a fresh target.
void descriptors() {
    write_source(20000);
    g_from = open(kSource, O_RDONLY | O_CLOEXEC);
    g_to = open(kTarget, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

// A read that fails, or a write that fails or falls short, ends the data copy.
bool copy_failed(const Outcome &o) {
    return o.failed("sxl_write") || (o.mode != hv::test::Nth::kShort && o.failed("sxl_read"));
}

// ext_copy's calls in order (name, ordinal, errno), the data copy before the first close:
// the first that failed decides the result and the error; the target exists from the
// second open on.
constexpr std::tuple<const char *, long, int> kCopySteps[] = {
    {"sxl_open", 1, ENOENT}, {"sxl_fstat", 1, EIO}, {"sxl_open", 2, ENOENT},
    {"sxl_chown", 1, EPERM}, {"sxl_fstat", 2, EIO}, {"sxl_close", 1, EIO},
    {"sxl_close", 2, EIO}};

bool copy_documented(long r, const Outcome &o) {
    const bool made = access(kTarget, F_OK) == 0;
    for (std::size_t i = 0; i < std::size(kCopySteps); ++i) {
        const auto &[call, ordinal, error] = kCopySteps[i];
        if (i == 5 && copy_failed(o)) return r == -2 && g_error == HV_EXT_COPY_FAILED && made;
        if (o.failed(call, ordinal)) return r == -1 && g_error == error && made == (i >= 3);
    }
    return r == 0 && g_error == kUntouched && contents(kTarget) == contents(kSource);
}

const hv::test::Case kCases[] = {
    // A waiting kind retries within its time; SIGALRM's default comes back as ignore.
    {.label = "TimedLockFile",
     .setup = descriptors,
     .run = [] { return long{ext_TimedLockFile(g_to, HV_EXT_LOCK_WRITE, 2)}; },
     .check = [](long r, const Outcome &o) {
         const bool retried_out = o.mode == hv::test::Nth::kPersistent && o.failed();
         return r == (retried_out ? ENOLCK : 0) && ext_signal(SIGALRM, SIG_DFL) == SIG_IGN &&
                alarm(0) == 0;
     }},
    {.label = "CopyFD2FD",
     .setup = descriptors,
     .run = [] { return long{ext_CopyFD2FD(g_from, g_to)}; },
     .check = [](long r, const Outcome &o) {
         return copy_failed(o) ? r == -1 : r == 0 && contents(kTarget) == contents(kSource);
     }},
    {.label = "Copy",
     .setup = [] {
         hv::test::remove_path(kTarget);
         write_source(20000);
     },
     .run = [] { return long{ext_copy("~/source", kTarget, &g_error)}; },
     .check = copy_documented},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
