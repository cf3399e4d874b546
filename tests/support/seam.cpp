// The fault seam. Test and fuzz programs are linked with -rdynamic, so the dynamic linker
// binds libhv_ext's calls to these definitions; each finds the call behind it (the
// stand-in's, or the C library's sleep) with dlsym(RTLD_NEXT) on first use.
#include "seam.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

// Whatever the target's visibility, these definitions must be seen to interpose.
#pragma GCC visibility push(default)
#include <unistd.h>

#include "dtk.h"
#include "hq.h"
#include "sxl.h"
#include "tayl.h"
#pragma GCC visibility pop

namespace {

using hv::test::Nth;

// What a failing call returns: -1 (EOF for sxl_fclose), null, or the error number itself.
// A failing close still closes, and a failing unlock still unlocks (a lock left held would
// only deadlock the next caller, which no system does): kCloses and kReleases make the call
// for real first. hq_UsingValgrind and sleep cannot fail.
enum class Fails { kMinusOne, kNull, kErrno, kCloses, kReleases, kNever };

// One row per call: return type, name, parameters, arguments, failure value, and the
// errno a failure of it usually carries.
#define HV_SEAM_CALLS(X)                                                                        \
    X(int, sxl_open, (const char *p, int f, mode_t m), (p, f, m), kMinusOne, ENOENT)            \
    X(int, sxl_close, (int fd), (fd), kCloses, EIO)                                             \
    X(int, sxl_dup, (int fd), (fd), kMinusOne, EMFILE)                                          \
    X(int, sxl_pipe, (int fds[2]), (fds), kMinusOne, EMFILE)                                    \
    X(ssize_t, sxl_read, (int fd, void *b, size_t n), (fd, b, n), kMinusOne, EIO)               \
    X(ssize_t, sxl_write, (int fd, const void *b, size_t n), (fd, b, n), kMinusOne, ENOSPC)     \
    X(long long, sxl_lseek, (int fd, long long o, int w), (fd, o, w), kMinusOne, EINVAL)        \
    X(FILE *, sxl_fopen, (const char *p, const char *m), (p, m), kNull, ENOENT)                 \
    X(char *, sxl_fgets, (char *b, int n, FILE *s), (b, n, s), kNull, EIO)                      \
    X(int, sxl_fclose, (FILE * s), (s), kCloses, EIO)                                           \
    X(int, sxl_stat, (const char *p, sxl_statbuf *st), (p, st), kMinusOne, ENOENT)              \
    X(int, sxl_fstat, (int fd, sxl_statbuf *st), (fd, st), kMinusOne, EIO)                      \
    X(int, sxl_chown, (const char *p, uid_t u, gid_t g), (p, u, g), kMinusOne, EPERM)           \
    X(int, sxl_fchown, (int fd, uid_t u, gid_t g), (fd, u, g), kMinusOne, EPERM)                \
    X(int, sxl_mkdir, (const char *p, mode_t m), (p, m), kMinusOne, EACCES)                     \
    X(int, sxl_rawfcntl, (int fd, int c, void *a), (fd, c, a), kMinusOne, ENOLCK)               \
    X(int, sxl_prealloc, (int fd, long long n), (fd, n), kErrno, ENOSPC)                        \
    X(int, sxl_fstype, (int fd), (fd), kMinusOne, EIO)                                          \
    X(pid_t, sxl_fork, (void), (), kMinusOne, EAGAIN)                                           \
    X(pid_t, sxl_setsid, (void), (), kMinusOne, EPERM)                                          \
    X(int, sxl_execv, (const char *p, char *const a[]), (p, a), kMinusOne, ENOENT)              \
    X(pid_t, sxl_wait, (int *s), (s), kMinusOne, ECHILD)                                        \
    X(pid_t, sxl_waitpid, (pid_t p, int *s, int o), (p, s, o), kMinusOne, ECHILD)               \
    X(int, sxl_select, (int n, fd_set *r, fd_set *w, fd_set *e, struct timeval *t),             \
      (n, r, w, e, t), kMinusOne, EINTR)                                                        \
    X(int, sxl_atexit, (void (*f)(void)), (f), kMinusOne, ENOMEM)                               \
    X(int, sxl_setregid, (gid_t r, gid_t e), (r, e), kMinusOne, EPERM)                          \
    X(struct passwd *, sxl_getpwuid, (uid_t u), (u), kNull, EIO)                                \
    X(const char *, sxl_getpwdage, (const char *a), (a), kNull, ENOENT)                         \
    X(time_t, sxl_time, (time_t * t), (t), kMinusOne, EFAULT)                                   \
    X(void *, sxl_malloc, (size_t n), (n), kNull, ENOMEM)                                       \
    X(void *, sxl_realloc, (void *p, size_t n), (p, n), kNull, ENOMEM)                          \
    X(int, sxl_pthread_once, (pthread_once_t * o, void (*f)(void)), (o, f), kErrno, EINVAL)     \
    X(int, sxl_pthread_mutexattr_init, (pthread_mutexattr_t * a), (a), kErrno, ENOMEM)          \
    X(int, sxl_pthread_mutexattr_destroy, (pthread_mutexattr_t * a), (a), kErrno, EINVAL)       \
    X(int, sxl_pthread_mutex_init, (pthread_mutex_t * m, const pthread_mutexattr_t *a), (m, a), \
      kErrno, EAGAIN)                                                                           \
    X(int, sxl_pthread_mutex_lock, (pthread_mutex_t * m), (m), kErrno, EAGAIN)                  \
    X(int, sxl_pthread_mutex_unlock, (pthread_mutex_t * m), (m), kReleases, EPERM)              \
    X(const char *, dtk_getDatadir, (void), (), kNull, ENOENT)                                  \
    X(const char *, tayl_GetString, (const char *k, int a, int b, int c), (k, a, b, c), kNull,  \
      ENOENT)                                                                                   \
    X(int, hq_UsingValgrind, (void), (), kNever, 0)                                             \
    X(unsigned, sleep, (unsigned s), (s), kNever, 0)

enum Id : int {
#define HV_SEAM_ID(ret, name, params, args, fails, err) id_##name,
    HV_SEAM_CALLS(HV_SEAM_ID)
#undef HV_SEAM_ID
        kCallCount
};

// Only the count is atomic: the thread stress test makes calls from many threads, but
// faults are scripted and armed by single-threaded tests alone.
struct Row {
    const char *name;
    Fails fails;
    int usual_err;
    std::atomic<long> count;
    void (*hook)() = nullptr;
    int scripted_left = 0;  // calls still to fail, or kForever
    int scripted_err = 0;
    long count_when_armed = 0;  // by fail_nth
    long failed_by_nth = 0;     // the ordinal since then of the first call the fault met, or 0
};

constinit Row rows[kCallCount] = {
#define HV_SEAM_ROW(ret, name, params, args, fails, err) {#name, Fails::fails, err, {}},
    HV_SEAM_CALLS(HV_SEAM_ROW)
#undef HV_SEAM_ROW
};

// The fault of fail_nth: the target 0 when none is armed.
struct Armed {
    long target, count;
    Nth mode;
    hv::test::NthHit hit;
};
constinit Armed armed = {0, 0, Nth::kOnce, {false, nullptr, 0}};

constinit std::optional<int> valgrind_answer;
constinit std::optional<long long> stopped_clock;  // none while the clock runs

// The files of serve_file, by path; never destroyed, as calls may come during exit.
std::map<std::string, std::string_view, std::less<>> &served() {
    static auto &files = *new std::map<std::string, std::string_view, std::less<>>;
    return files;
}

// The path is the first argument of sxl_fopen and sxl_stat alike.
const std::string_view *served_at(const char *path, auto...) {
    const auto file = path != nullptr ? served().find(path) : served().end();
    return file != served().end() ? &file->second : nullptr;
}

[[noreturn]] void die(const char *what, const char *name) {
    fprintf(stderr, "fault seam: %s: %s\n", what, name);
    abort();
}

Row &row_named(const char *name) {
    for (Row &row : rows)
        if (name != nullptr && strcmp(row.name, name) == 0) return row;
    die("no such call", name != nullptr ? name : "(null)");
}

// The answers that stand in for the real calls while the clock is stopped or a file is
// served.
time_t stopped(time_t *t) {
    if (t != nullptr) *t = static_cast<time_t>(*stopped_clock);
    return static_cast<time_t>(*stopped_clock);
}

unsigned stopped(unsigned seconds) {
    *stopped_clock += seconds;
    return 0;
}

FILE *from_memory(std::string_view file, const char *, const char *) {
    errno = ENOENT;
    if (file.data() == nullptr) return nullptr;
    return fmemopen(const_cast<char *>(file.data()), file.size(), "r");
}

int from_memory(std::string_view file, const char *, sxl_statbuf *st) {
    errno = ENOENT;
    if (file.data() == nullptr) return -1;
    *st = {};
    st->mode = S_IFREG | 0644;
    st->size = static_cast<long long>(file.size());
    return 0;
}

// What the call does when it does not fail: the real call, or its stand-in.
template <Id id, typename R, typename... A>
R behind(A... a) {
    if constexpr (id == id_sxl_time || id == id_sleep) {
        if (stopped_clock) return stopped(a...);
    } else if constexpr (id == id_sxl_fopen || id == id_sxl_stat) {
        if (const std::string_view *file = served_at(a...)) return from_memory(*file, a...);
    } else if constexpr (id == id_hq_UsingValgrind) {
        if (valgrind_answer) return *valgrind_answer;
    }
    static const auto real = reinterpret_cast<R (*)(A...)>(dlsym(RTLD_NEXT, rows[id].name));
    if (real == nullptr) die("no library behind the seam defines", rows[id].name);
    return real(a...);
}

// A short read or write moves half the bytes for real.
template <Id id, typename Buf>
ssize_t halved(int fd, Buf buf, size_t count) {
    return behind<id, ssize_t>(fd, buf, (count + 1) / 2);
}

struct Fault {
    bool met;
    int err;
    bool half;
};

// Runs the call's hook, counts it, and says whether and how it is to fail.
Fault take_fault(Id id) {
    Row &row = rows[id];
    if (row.hook != nullptr) row.hook();
    const long made = row.count.fetch_add(1, std::memory_order_relaxed) + 1;
    if (armed.target != 0 && row.fails != Fails::kNever) {
        const long count = ++armed.count;
        const bool half = armed.mode == Nth::kShort;
        if (count == armed.target || (count > armed.target && armed.mode == Nth::kPersistent)) {
            armed.hit.reached = true;
            if (!half || id == id_sxl_read || id == id_sxl_write) {
                if (row.failed_by_nth == 0) row.failed_by_nth = made - row.count_when_armed;
                if (armed.hit.call == nullptr) armed.hit = {true, row.name, row.failed_by_nth};
                return {true, row.usual_err, half};
            }
        }
    }
    if (row.scripted_left == 0) return {};
    if (row.scripted_left != hv::test::kForever) --row.scripted_left;
    return {true, row.scripted_err, false};
}

template <Id id, typename R, typename... A>
R pass(A... a) {
    const Fault fault = take_fault(id);
    if (!fault.met) return behind<id, R>(a...);
    if constexpr (id == id_sxl_read || id == id_sxl_write)
        if (fault.half) return halved<id>(a...);
    const Fails fails = rows[id].fails;
    if (fails == Fails::kCloses || fails == Fails::kReleases) behind<id, R>(a...);
    errno = fault.err;
    if constexpr (std::is_pointer_v<R>)
        return nullptr;
    else
        return static_cast<R>(fails == Fails::kErrno || fails == Fails::kReleases ? fault.err : -1);
}

}  // namespace

#define HV_SEAM_DEFINE(ret, name, params, args, fails, err) \
    extern "C" ret name params { return pass<id_##name, ret> args; }
HV_SEAM_CALLS(HV_SEAM_DEFINE)
#undef HV_SEAM_DEFINE

namespace hv::test {

void script(const char *call, int err, int times) {
    Row &row = row_named(call);
    if (row.fails == Fails::kNever) die("call has no failure value to script", row.name);
    row.scripted_err = err;
    row.scripted_left = times;
}

void clear_faults() {
    for (Row &row : rows) row.scripted_left = 0;
}

void before_call(const char *call, void (*hook)()) { row_named(call).hook = hook; }

long calls(const char *call) { return row_named(call).count.load(std::memory_order_relaxed); }

void fail_nth(long n, Nth mode) {
    for (Row &row : rows) {
        row.count_when_armed = row.count.load(std::memory_order_relaxed);
        row.failed_by_nth = 0;
    }
    armed = {n, 0, mode, {false, nullptr, 0}};
}

void disarm_nth() { armed.target = 0; }

NthHit nth_hit() { return armed.hit; }

long nth_failed(const char *call) { return row_named(call).failed_by_nth; }

void pretend_valgrind(int value) { valgrind_answer = value; }

void set_time(long long t) { stopped_clock = t; }

long long stopped_time() { return stopped_clock.value_or(LLONG_MIN); }

void serve_file(const char *path, std::string_view content) { served()[path] = content; }

void forget_files() { served().clear(); }

}  // namespace hv::test
