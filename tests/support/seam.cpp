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

// What a failing call returns.
enum class Fails {
    kMinusOne,  // -1 (EOF for sxl_fclose)
    kNull,
    kErrno,     // the error number itself
    kCloses,    // -1, after closing for real
    kReleases,  // the error number, after unlocking for real: a lock left held would only
                // deadlock the next caller, which no system does
    kNever,     // hq_UsingValgrind and sleep cannot fail
};

// One row per call: return type, name, parameters, arguments, failure value, the errno a
// failure of it usually carries, and whether the definition is generated (G) or written
// out below (S).
#define HV_SEAM_CALLS(X)                                                                        \
    X(int, sxl_open, (const char *p, int f, mode_t m), (p, f, m), kMinusOne, ENOENT, G)         \
    X(int, sxl_close, (int fd), (fd), kCloses, EIO, G)                                          \
    X(int, sxl_dup, (int fd), (fd), kMinusOne, EMFILE, G)                                       \
    X(int, sxl_pipe, (int fds[2]), (fds), kMinusOne, EMFILE, G)                                 \
    X(ssize_t, sxl_read, (int fd, void *b, size_t n), (fd, b, n), kMinusOne, EIO, S)            \
    X(ssize_t, sxl_write, (int fd, const void *b, size_t n), (fd, b, n), kMinusOne, ENOSPC, S)  \
    X(long long, sxl_lseek, (int fd, long long o, int w), (fd, o, w), kMinusOne, EINVAL, G)     \
    X(FILE *, sxl_fopen, (const char *p, const char *m), (p, m), kNull, ENOENT, S)              \
    X(char *, sxl_fgets, (char *b, int n, FILE *s), (b, n, s), kNull, EIO, G)                   \
    X(int, sxl_fclose, (FILE * s), (s), kCloses, EIO, G)                                        \
    X(int, sxl_stat, (const char *p, sxl_statbuf *st), (p, st), kMinusOne, ENOENT, S)           \
    X(int, sxl_fstat, (int fd, sxl_statbuf *st), (fd, st), kMinusOne, EIO, G)                   \
    X(int, sxl_chown, (const char *p, uid_t u, gid_t g), (p, u, g), kMinusOne, EPERM, G)        \
    X(int, sxl_fchown, (int fd, uid_t u, gid_t g), (fd, u, g), kMinusOne, EPERM, G)             \
    X(int, sxl_mkdir, (const char *p, mode_t m), (p, m), kMinusOne, EACCES, G)                  \
    X(int, sxl_rawfcntl, (int fd, int c, void *a), (fd, c, a), kMinusOne, ENOLCK, G)            \
    X(int, sxl_prealloc, (int fd, long long n), (fd, n), kErrno, ENOSPC, G)                     \
    X(int, sxl_fstype, (int fd), (fd), kMinusOne, EIO, G)                                       \
    X(pid_t, sxl_fork, (void), (), kMinusOne, EAGAIN, G)                                        \
    X(pid_t, sxl_setsid, (void), (), kMinusOne, EPERM, G)                                       \
    X(int, sxl_execv, (const char *p, char *const a[]), (p, a), kMinusOne, ENOENT, G)           \
    X(pid_t, sxl_wait, (int *s), (s), kMinusOne, ECHILD, G)                                     \
    X(pid_t, sxl_waitpid, (pid_t p, int *s, int o), (p, s, o), kMinusOne, ECHILD, G)            \
    X(int, sxl_select, (int n, fd_set *r, fd_set *w, fd_set *e, struct timeval *t),             \
      (n, r, w, e, t), kMinusOne, EINTR, G)                                                     \
    X(int, sxl_atexit, (void (*f)(void)), (f), kMinusOne, ENOMEM, G)                            \
    X(int, sxl_setregid, (gid_t r, gid_t e), (r, e), kMinusOne, EPERM, G)                       \
    X(struct passwd *, sxl_getpwuid, (uid_t u), (u), kNull, EIO, G)                             \
    X(const char *, sxl_getpwdage, (const char *a), (a), kNull, ENOENT, G)                      \
    X(time_t, sxl_time, (time_t * t), (t), kMinusOne, EFAULT, S)                                \
    X(void *, sxl_malloc, (size_t n), (n), kNull, ENOMEM, G)                                    \
    X(void *, sxl_realloc, (void *p, size_t n), (p, n), kNull, ENOMEM, G)                       \
    X(int, sxl_pthread_once, (pthread_once_t * o, void (*f)(void)), (o, f), kErrno, EINVAL, G)  \
    X(int, sxl_pthread_mutexattr_init, (pthread_mutexattr_t * a), (a), kErrno, ENOMEM, G)       \
    X(int, sxl_pthread_mutexattr_destroy, (pthread_mutexattr_t * a), (a), kErrno, EINVAL, G)    \
    X(int, sxl_pthread_mutex_init, (pthread_mutex_t * m, const pthread_mutexattr_t *a), (m, a), \
      kErrno, EAGAIN, G)                                                                        \
    X(int, sxl_pthread_mutex_lock, (pthread_mutex_t * m), (m), kErrno, EAGAIN, G)               \
    X(int, sxl_pthread_mutex_unlock, (pthread_mutex_t * m), (m), kReleases, EPERM, G)           \
    X(const char *, dtk_getDatadir, (void), (), kNull, ENOENT, G)                               \
    X(const char *, tayl_GetString, (const char *k, int a, int b, int c), (k, a, b, c), kNull,  \
      ENOENT, G)                                                                                \
    X(int, hq_UsingValgrind, (void), (), kNever, 0, S)                                          \
    X(unsigned, sleep, (unsigned s), (s), kNever, 0, S)

enum Id : int {
#define HV_SEAM_ID(ret, name, params, args, fails, err, how) id_##name,
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
    int scripted_left;  // calls still to fail, or kForever
    int scripted_err;
    void (*hook)();
    long count_when_armed;  // by fail_nth
    long failed_by_nth;     // the ordinal since then of the first call the fault met, or 0
};

constinit Row rows[kCallCount] = {
#define HV_SEAM_ROW(ret, name, params, args, fails, err, how) \
    {#name, Fails::fails, err, {}, 0, 0, nullptr, 0, 0},
    HV_SEAM_CALLS(HV_SEAM_ROW)
#undef HV_SEAM_ROW
};

// The fault of fail_nth.
struct Armed {
    long target;  // 0: none armed
    long count;
    hv::test::Nth mode;
    bool reached;
    int hit;  // the Id of the first call failed, or -1
};
constinit Armed armed = {0, 0, hv::test::Nth::kOnce, false, -1};

constexpr int kNotPretended = INT_MIN;
constinit int valgrind_answer = kNotPretended;
constexpr long long kClockRuns = LLONG_MIN;
constinit long long stopped_clock = kClockRuns;

// The files of serve_file; a null path is a free slot.
struct Served {
    const char *path;
    const char *content;
    std::size_t size;
};
constinit Served served[8] = {};

Served *served_at(const char *path) {
    for (Served &file : served)
        if (path != nullptr && file.path != nullptr && strcmp(file.path, path) == 0) return &file;
    return nullptr;
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

template <Id id, typename Fn>
Fn real() {
    static const Fn fn = [] {
        void *found = dlsym(RTLD_NEXT, rows[id].name);
        if (found == nullptr) die("no library behind the seam defines", rows[id].name);
        return reinterpret_cast<Fn>(found);
    }();
    return fn;
}

// How a call is to fail: with this errno, or (reads and writes) by moving half its bytes.
struct Injected {
    int err;
    bool half;
};

// Whether the call, the `made`-th of its name, is the one fail_nth aims at, or one after
// it that fails too.
bool take_nth(Id id, long made, Injected *out) {
    Row &row = rows[id];
    if (armed.target == 0 || row.fails == Fails::kNever) return false;
    const long count = ++armed.count;
    const bool persistent = armed.mode == hv::test::Nth::kPersistent;
    if (count < armed.target || (count > armed.target && !persistent)) return false;
    armed.reached = true;
    const bool half = armed.mode == hv::test::Nth::kShort;
    if (half && id != id_sxl_read && id != id_sxl_write) return false;
    if (row.failed_by_nth == 0) row.failed_by_nth = made - row.count_when_armed;
    if (armed.hit < 0) armed.hit = id;
    *out = {row.usual_err, half};
    return true;
}

// Counts the call and says whether it is to fail.
bool take_fault(Id id, Injected *out) {
    Row &row = rows[id];
    if (row.hook != nullptr) row.hook();
    const long made = row.count.fetch_add(1, std::memory_order_relaxed) + 1;
    if (take_nth(id, made, out)) return true;
    if (row.scripted_left == 0) return false;
    if (row.scripted_left != hv::test::kForever) --row.scripted_left;
    *out = {row.scripted_err, false};
    return true;
}

template <typename R, typename Call>
R pass(Id id, Call call) {
    Injected fault;
    if (!take_fault(id, &fault)) return call();
    const Fails fails = rows[id].fails;
    if (fails == Fails::kCloses || fails == Fails::kReleases) call();
    errno = fault.err;
    if constexpr (std::is_pointer_v<R>)
        return nullptr;
    else
        return static_cast<R>(fails == Fails::kErrno || fails == Fails::kReleases ? fault.err : -1);
}

// sxl_read and sxl_write: a short one moves half the bytes for real.
template <Id id, typename Buf>
ssize_t transfer(int fd, Buf buf, size_t count) {
    const auto call = real<id, ssize_t (*)(int, Buf, size_t)>();
    Injected fault;
    if (!take_fault(id, &fault)) return call(fd, buf, count);
    if (fault.half) return call(fd, buf, (count + 1) / 2);
    errno = fault.err;
    return -1;
}

}  // namespace

#define HV_SEAM_DEFINE_G(ret, name, params, args, fails, err)                                 \
    extern "C" ret name params {                                                              \
        return pass<ret>(id_##name,                                                           \
                         [&]() -> ret { return real<id_##name, decltype(&::name)>() args; }); \
    }
#define HV_SEAM_DEFINE_S(ret, name, params, args, fails, err)
#define HV_SEAM_DEFINE(ret, name, params, args, fails, err, how) \
    HV_SEAM_DEFINE_##how(ret, name, params, args, fails, err)
HV_SEAM_CALLS(HV_SEAM_DEFINE)
#undef HV_SEAM_DEFINE

extern "C" ssize_t sxl_read(int fd, void *buf, size_t count) {
    return transfer<id_sxl_read>(fd, buf, count);
}

extern "C" ssize_t sxl_write(int fd, const void *buf, size_t count) {
    return transfer<id_sxl_write>(fd, buf, count);
}

extern "C" time_t sxl_time(time_t *t) {
    return pass<time_t>(id_sxl_time, [&] {
        if (stopped_clock == kClockRuns) return real<id_sxl_time, decltype(&::sxl_time)>()(t);
        if (t != nullptr) *t = static_cast<time_t>(stopped_clock);
        return static_cast<time_t>(stopped_clock);
    });
}

extern "C" unsigned sleep(unsigned seconds) {
    return pass<unsigned>(id_sleep, [&] {
        if (stopped_clock == kClockRuns) return real<id_sleep, decltype(&::sleep)>()(seconds);
        stopped_clock += seconds;
        return 0u;
    });
}

extern "C" FILE *sxl_fopen(const char *path, const char *mode) {
    return pass<FILE *>(id_sxl_fopen, [&]() -> FILE * {
        const Served *file = served_at(path);
        if (file == nullptr) return real<id_sxl_fopen, decltype(&::sxl_fopen)>()(path, mode);
        errno = ENOENT;
        return file->content != nullptr
                   ? fmemopen(const_cast<char *>(file->content), file->size, "r")
                   : nullptr;
    });
}

extern "C" int sxl_stat(const char *path, sxl_statbuf *st) {
    return pass<int>(id_sxl_stat, [&] {
        const Served *file = served_at(path);
        if (file == nullptr) return real<id_sxl_stat, decltype(&::sxl_stat)>()(path, st);
        errno = ENOENT;
        if (file->content == nullptr) return -1;
        *st = {};
        st->mode = S_IFREG | 0644;
        st->size = static_cast<long long>(file->size);
        return 0;
    });
}

extern "C" int hq_UsingValgrind(void) {
    return pass<int>(id_hq_UsingValgrind, [] {
        if (valgrind_answer != kNotPretended) return valgrind_answer;
        return real<id_hq_UsingValgrind, decltype(&::hq_UsingValgrind)>()();
    });
}

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
    armed = {n, 0, mode, false, -1};
}

void disarm_nth() { armed.target = 0; }

NthHit nth_hit() {
    if (armed.hit < 0) return {armed.reached, nullptr, 0};
    return {true, rows[armed.hit].name, rows[armed.hit].failed_by_nth};
}

long nth_failed(const char *call) { return row_named(call).failed_by_nth; }

void pretend_valgrind(int value) { valgrind_answer = value; }

void set_time(long long t) { stopped_clock = t; }

long long stopped_time() { return stopped_clock; }

void serve_file(const char *path, const char *content, std::size_t size) {
    Served *slot = served_at(path);
    for (Served &file : served)
        if (slot == nullptr && file.path == nullptr) slot = &file;
    if (slot == nullptr) die("more files served than slots for", path);
    *slot = {path, content, size};
}

void forget_files() {
    for (Served &file : served) file = {};
}

}  // namespace hv::test
