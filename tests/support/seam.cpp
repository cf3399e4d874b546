// The fault seam. Test and fuzz programs are linked with -rdynamic, so these
// definitions are the ones the dynamic linker binds libhv_ext's calls to; each
// finds the call behind it (the stand-in's, or the C library's sleep) with
// dlsym(RTLD_NEXT) on first use.
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

// What a scripted fault makes a call return.
enum class Fails {
    kMinusOne,  // -1 (EOF for sxl_fclose)
    kNull,
    kErrno,     // the error number itself
    kCloses,    // -1, after closing for real
    kReleases,  // the error number, after unlocking for real: a lock left held
                // would only deadlock the next caller, which no system does
    kNever,     // hq_UsingValgrind and sleep have no failure value: they cannot be scripted
};

// One row per call: return type, name, parameters, arguments, failure value, the
// errno a failure of it usually carries, and whether the definition is generated
// (G) or written out below (S).
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

struct Row {
    const char *name;
    Fails fails;
    int usual_err;
    std::atomic<void *> real;
    std::atomic<long> count;
    std::atomic<int> scripted_left;  // of script(): calls still to fail, or kForever
    std::atomic<int> scripted_err;
    std::atomic<void (*)()> hook;           // of before_call
    long count_when_armed;                  // by fail_nth
    std::atomic<long> first_failed_by_nth;  // its ordinal since fail_nth, or 0
};

constinit Row rows[kCallCount] = {
#define HV_SEAM_ROW(ret, name, params, args, fails, err, how) \
    {#name, Fails::fails, err, {}, {}, {}, {}, {}, 0, {}},
    HV_SEAM_CALLS(HV_SEAM_ROW)
#undef HV_SEAM_ROW
};

// How a call is to fail: with this errno, or (reads and writes) by moving half its bytes.
struct Injected {
    int err;
    bool half;
};

// The fault of fail_nth: nth_target is 0 while none is armed.
constinit std::atomic<long> nth_target{0};
constinit std::atomic<long> nth_count{0};
constinit std::atomic<hv::test::Nth> nth_mode{hv::test::Nth::kOnce};
constinit std::atomic<bool> nth_reached{false};
constinit std::atomic<int> nth_hit_id{-1};
constinit std::atomic<long> nth_hit_ordinal{0};

constexpr int kNotPretended = INT_MIN;
constinit std::atomic<int> valgrind_answer{kNotPretended};
constexpr long long kClockRuns = LLONG_MIN;
constinit std::atomic<long long> stopped_clock{kClockRuns};

// The files of serve_file; a null path is a free slot.
struct Served {
    const char *path;
    const char *content;
    std::size_t size;
};
constexpr int kServed = 8;
constinit Served served[kServed] = {};

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
    for (Row &row : rows) {
        if (name != nullptr && strcmp(row.name, name) == 0) return row;
    }
    die("no such call", name != nullptr ? name : "(null)");
}

template <typename Fn>
Fn real(Id id) {
    Row &row = rows[id];
    void *fn = row.real.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = dlsym(RTLD_NEXT, row.name);
        if (fn == nullptr) die("no library behind the seam defines", row.name);
        row.real.store(fn, std::memory_order_release);
    }
    return reinterpret_cast<Fn>(fn);
}

// Whether the call is the one fail_nth aims at, or one after it that fails too.
bool take_nth(Id id, long made, Injected *out) {
    const long target = nth_target.load(std::memory_order_acquire);
    if (target == 0 || rows[id].fails == Fails::kNever) return false;
    const long count = nth_count.fetch_add(1, std::memory_order_relaxed) + 1;
    const hv::test::Nth mode = nth_mode.load(std::memory_order_relaxed);
    if (count < target || (count > target && mode != hv::test::Nth::kPersistent)) return false;
    nth_reached.store(true, std::memory_order_relaxed);
    const bool transfer = id == id_sxl_read || id == id_sxl_write;
    if (mode == hv::test::Nth::kShort && !transfer) return false;
    const long ordinal = made - rows[id].count_when_armed;
    long never = 0;
    rows[id].first_failed_by_nth.compare_exchange_strong(never, ordinal);
    int none = -1;
    if (nth_hit_id.compare_exchange_strong(none, id))
        nth_hit_ordinal.store(ordinal, std::memory_order_relaxed);
    *out = {rows[id].usual_err, mode == hv::test::Nth::kShort};
    return true;
}

// Counts the call and says whether it is one of the scripted failures.
bool take_fault(Id id, Injected *out) {
    Row &row = rows[id];
    if (void (*hook)() = row.hook.load(std::memory_order_acquire)) hook();
    const long made = row.count.fetch_add(1, std::memory_order_relaxed) + 1;
    if (take_nth(id, made, out)) return true;
    int left = row.scripted_left.load(std::memory_order_acquire);
    while (left != 0) {
        if (left == hv::test::kForever ||
            row.scripted_left.compare_exchange_weak(left, left - 1, std::memory_order_acquire)) {
            *out = {row.scripted_err.load(std::memory_order_relaxed), false};
            return true;
        }
    }
    return false;
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
template <typename Buf>
ssize_t transfer(Id id, int fd, Buf buf, size_t count) {
    using Fn = ssize_t (*)(int, Buf, size_t);
    Injected fault;
    if (!take_fault(id, &fault)) return real<Fn>(id)(fd, buf, count);
    if (fault.half) return real<Fn>(id)(fd, buf, (count + 1) / 2);
    errno = fault.err;
    return -1;
}

}  // namespace

#define HV_SEAM_DEFINE_G(ret, name, params, args, fails, err)                               \
    extern "C" ret name params {                                                            \
        return pass<ret>(id_##name,                                                         \
                         [&]() -> ret { return real<decltype(&::name)>(id_##name) args; }); \
    }
#define HV_SEAM_DEFINE_S(ret, name, params, args, fails, err)
#define HV_SEAM_DEFINE(ret, name, params, args, fails, err, how) \
    HV_SEAM_DEFINE_##how(ret, name, params, args, fails, err)
HV_SEAM_CALLS(HV_SEAM_DEFINE)
#undef HV_SEAM_DEFINE

extern "C" ssize_t sxl_read(int fd, void *buf, size_t count) {
    return transfer(id_sxl_read, fd, buf, count);
}

extern "C" ssize_t sxl_write(int fd, const void *buf, size_t count) {
    return transfer(id_sxl_write, fd, buf, count);
}

extern "C" time_t sxl_time(time_t *t) {
    return pass<time_t>(id_sxl_time, [&] {
        const long long stopped = stopped_clock.load(std::memory_order_acquire);
        if (stopped == kClockRuns) return real<decltype(&::sxl_time)>(id_sxl_time)(t);
        if (t != nullptr) *t = static_cast<time_t>(stopped);
        return static_cast<time_t>(stopped);
    });
}

extern "C" unsigned sleep(unsigned seconds) {
    return pass<unsigned>(id_sleep, [&] {
        if (stopped_clock.load(std::memory_order_acquire) == kClockRuns)
            return real<decltype(&::sleep)>(id_sleep)(seconds);
        stopped_clock.fetch_add(seconds, std::memory_order_relaxed);
        return 0u;
    });
}

// A served file: its content from memory, or ENOENT for one served as missing.
extern "C" FILE *sxl_fopen(const char *path, const char *mode) {
    return pass<FILE *>(id_sxl_fopen, [&]() -> FILE * {
        const Served *file = served_at(path);
        if (file == nullptr) return real<decltype(&::sxl_fopen)>(id_sxl_fopen)(path, mode);
        errno = ENOENT;
        return file->content != nullptr
                   ? fmemopen(const_cast<char *>(file->content), file->size, "r")
                   : nullptr;
    });
}

extern "C" int sxl_stat(const char *path, sxl_statbuf *st) {
    return pass<int>(id_sxl_stat, [&] {
        const Served *file = served_at(path);
        if (file == nullptr) return real<decltype(&::sxl_stat)>(id_sxl_stat)(path, st);
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
        const int pretended = valgrind_answer.load(std::memory_order_acquire);
        return pretended != kNotPretended
                   ? pretended
                   : real<decltype(&::hq_UsingValgrind)>(id_hq_UsingValgrind)();
    });
}

namespace hv::test {

void script(const char *call, int err, int times) {
    Row &row = row_named(call);
    if (row.fails == Fails::kNever) die("call has no failure value to script", row.name);
    row.scripted_err.store(err, std::memory_order_relaxed);
    row.scripted_left.store(times, std::memory_order_release);
}

void before_call(const char *call, void (*hook)()) {
    row_named(call).hook.store(hook, std::memory_order_release);
}

void clear_faults() {
    for (Row &row : rows) row.scripted_left.store(0, std::memory_order_release);
}

long calls(const char *call) { return row_named(call).count.load(std::memory_order_relaxed); }

void fail_nth(long n, Nth mode) {
    if (n < 1) die("fail_nth needs n >= 1 for", "the n-th call");
    for (Row &row : rows) {
        row.count_when_armed = row.count.load(std::memory_order_relaxed);
        row.first_failed_by_nth.store(0, std::memory_order_relaxed);
    }
    nth_count.store(0, std::memory_order_relaxed);
    nth_mode.store(mode, std::memory_order_relaxed);
    nth_reached.store(false, std::memory_order_relaxed);
    nth_hit_id.store(-1, std::memory_order_relaxed);
    nth_target.store(n, std::memory_order_release);
}

void disarm_nth() { nth_target.store(0, std::memory_order_release); }

NthHit nth_hit() {
    const int id = nth_hit_id.load(std::memory_order_relaxed);
    if (id < 0) return {nth_reached.load(std::memory_order_relaxed), nullptr, 0, 0};
    return {true, rows[id].name, nth_hit_ordinal.load(std::memory_order_relaxed),
            rows[id].usual_err};
}

long nth_failed(const char *call) {
    return row_named(call).first_failed_by_nth.load(std::memory_order_relaxed);
}

void pretend_valgrind(int value) { valgrind_answer.store(value, std::memory_order_release); }

void set_time(long long t) { stopped_clock.store(t, std::memory_order_release); }

long long stopped_time() { return stopped_clock.load(std::memory_order_acquire); }

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
