// The fault seam. Test programs are linked with -rdynamic, so these definitions
// are the ones the dynamic linker binds libhv_ext's calls to; each finds the
// stand-in behind it with dlsym(RTLD_NEXT) on first use.
#include "seam.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>

// Whatever the target's visibility, these definitions must be seen to interpose.
#pragma GCC visibility push(default)
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
    kNever,     // the call has no failure value: cannot be scripted
};

// One row per call: return type, name, parameters, arguments, failure value, and
// whether the definition is generated (G) or written out below (S).
#define HV_SEAM_CALLS(X)                                                                \
    X(int, sxl_open, (const char *p, int f, mode_t m), (p, f, m), kMinusOne, G)         \
    X(int, sxl_close, (int fd), (fd), kCloses, G)                                        \
    X(int, sxl_dup, (int fd), (fd), kMinusOne, G)                                        \
    X(int, sxl_pipe, (int fds[2]), (fds), kMinusOne, G)                                  \
    X(ssize_t, sxl_read, (int fd, void *b, size_t n), (fd, b, n), kMinusOne, S)          \
    X(ssize_t, sxl_write, (int fd, const void *b, size_t n), (fd, b, n), kMinusOne, S)   \
    X(long long, sxl_lseek, (int fd, long long o, int w), (fd, o, w), kMinusOne, G)      \
    X(FILE *, sxl_fopen, (const char *p, const char *m), (p, m), kNull, G)               \
    X(char *, sxl_fgets, (char *b, int n, FILE *s), (b, n, s), kNull, G)                 \
    X(int, sxl_fclose, (FILE * s), (s), kCloses, G)                                      \
    X(int, sxl_stat, (const char *p, sxl_statbuf *st), (p, st), kMinusOne, G)            \
    X(int, sxl_fstat, (int fd, sxl_statbuf *st), (fd, st), kMinusOne, G)                 \
    X(int, sxl_chown, (const char *p, uid_t u, gid_t g), (p, u, g), kMinusOne, G)        \
    X(int, sxl_fchown, (int fd, uid_t u, gid_t g), (fd, u, g), kMinusOne, G)             \
    X(int, sxl_mkdir, (const char *p, mode_t m), (p, m), kMinusOne, G)                   \
    X(int, sxl_rawfcntl, (int fd, int c, void *a), (fd, c, a), kMinusOne, G)             \
    X(int, sxl_prealloc, (int fd, long long n), (fd, n), kErrno, G)                      \
    X(int, sxl_fstype, (int fd), (fd), kMinusOne, G)                                     \
    X(pid_t, sxl_fork, (void), (), kMinusOne, G)                                         \
    X(pid_t, sxl_setsid, (void), (), kMinusOne, G)                                       \
    X(int, sxl_execv, (const char *p, char *const a[]), (p, a), kMinusOne, G)            \
    X(pid_t, sxl_wait, (int *s), (s), kMinusOne, G)                                      \
    X(pid_t, sxl_waitpid, (pid_t p, int *s, int o), (p, s, o), kMinusOne, G)             \
    X(int, sxl_select, (int n, fd_set *r, fd_set *w, fd_set *e, struct timeval *t),      \
      (n, r, w, e, t), kMinusOne, G)                                                     \
    X(void, sxl_exit, (int s), (s), kNever, S)                                           \
    X(int, sxl_atexit, (void (*f)(void)), (f), kMinusOne, G)                             \
    X(uid_t, sxl_getuid, (void), (), kNever, G)                                          \
    X(gid_t, sxl_getgid, (void), (), kNever, G)                                          \
    X(gid_t, sxl_getegid, (void), (), kNever, G)                                         \
    X(int, sxl_setregid, (gid_t r, gid_t e), (r, e), kMinusOne, G)                       \
    X(struct passwd *, sxl_getpwuid, (uid_t u), (u), kNull, G)                           \
    X(const char *, sxl_getpwdage, (const char *a), (a), kNull, G)                       \
    X(time_t, sxl_time, (time_t * t), (t), kMinusOne, S)                                 \
    X(void *, sxl_malloc, (size_t n), (n), kNull, G)                                     \
    X(void *, sxl_realloc, (void *p, size_t n), (p, n), kNull, G)                        \
    X(void, sxl_free, (void *p), (p), kNever, G)                                         \
    X(int, sxl_pthread_once, (pthread_once_t * o, void (*f)(void)), (o, f), kErrno, G)   \
    X(int, sxl_pthread_mutexattr_init, (pthread_mutexattr_t * a), (a), kErrno, G)        \
    X(int, sxl_pthread_mutexattr_destroy, (pthread_mutexattr_t * a), (a), kErrno, G)     \
    X(int, sxl_pthread_mutex_init, (pthread_mutex_t * m, const pthread_mutexattr_t *a),  \
      (m, a), kErrno, G)                                                                 \
    X(int, sxl_pthread_mutex_lock, (pthread_mutex_t * m), (m), kErrno, G)                \
    X(int, sxl_pthread_mutex_unlock, (pthread_mutex_t * m), (m), kErrno, G)              \
    X(const char *, dtk_getDatadir, (void), (), kNull, G)                                \
    X(const char *, tayl_GetString, (const char *k, int a, int b, int c), (k, a, b, c),  \
      kNull, G)                                                                          \
    X(int, hq_UsingValgrind, (void), (), kNever, S)

enum Id : int {
#define HV_SEAM_ID(ret, name, params, args, fails, how) id_##name,
    HV_SEAM_CALLS(HV_SEAM_ID)
#undef HV_SEAM_ID
    kCallCount
};

struct Row {
    const char *name;
    Fails fails;
    std::atomic<void *> real;
    std::atomic<long> count;
    std::atomic<bool> armed;  // a fault is scripted; the details are under fault_mutex
    hv::test::Fault fault;
};

constinit Row rows[kCallCount] = {
#define HV_SEAM_ROW(ret, name, params, args, fails, how) \
    {#name, Fails::fails, {}, {}, {}, {}},
    HV_SEAM_CALLS(HV_SEAM_ROW)
#undef HV_SEAM_ROW
};

constinit std::mutex fault_mutex;

constinit std::atomic<bool> valgrind_pretended{false};
constinit std::atomic<int> valgrind_answer{0};
constinit std::atomic<bool> clock_stopped{false};
constinit std::atomic<long long> clock_value{0};

[[noreturn]] void die(const char *what, const char *name)
{
    fprintf(stderr, "fault seam: %s: %s\n", what, name);
    abort();
}

Row &row_named(const char *name)
{
    for (Row &row : rows) {
        if (name != nullptr && strcmp(row.name, name) == 0)
            return row;
    }
    die("no such call", name != nullptr ? name : "(null)");
}

template <typename Fn>
Fn real(Id id)
{
    Row &row = rows[id];
    void *fn = row.real.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = dlsym(RTLD_NEXT, row.name);
        if (fn == nullptr)
            die("no library behind the seam defines", row.name);
        row.real.store(fn, std::memory_order_release);
    }
    return reinterpret_cast<Fn>(fn);
}

// Counts the call and says whether it is one of the scripted failures.
bool take_fault(Id id, hv::test::Fault *out)
{
    Row &row = rows[id];
    row.count.fetch_add(1, std::memory_order_relaxed);
    if (!row.armed.load(std::memory_order_acquire))
        return false;
    std::lock_guard lock(fault_mutex);
    if (!row.armed.load(std::memory_order_relaxed))
        return false;
    hv::test::Fault &fault = row.fault;
    if (fault.skip > 0) {
        --fault.skip;
        return false;
    }
    *out = fault;
    if (fault.times != hv::test::Fault::kForever && --fault.times <= 0)
        row.armed.store(false, std::memory_order_relaxed);
    return true;
}

template <typename R, typename Call>
R pass(Id id, Call call)
{
    hv::test::Fault fault;
    if (!take_fault(id, &fault))
        return call();
    if constexpr (std::is_void_v<R>) {
        return call();  // unreachable: such calls cannot be scripted
    } else {
        if (rows[id].fails == Fails::kCloses)
            call();
        errno = fault.err;
        if constexpr (std::is_pointer_v<R>)
            return nullptr;
        else
            return static_cast<R>(rows[id].fails == Fails::kErrno ? fault.err : -1);
    }
}

// sxl_read and sxl_write: a short count moves fewer bytes for real.
template <typename Buf>
ssize_t transfer(Id id, int fd, Buf buf, size_t count)
{
    using Fn = ssize_t (*)(int, Buf, size_t);
    hv::test::Fault fault;
    if (!take_fault(id, &fault))
        return real<Fn>(id)(fd, buf, count);
    if (fault.short_count >= 0) {
        size_t limit = static_cast<size_t>(fault.short_count);
        return real<Fn>(id)(fd, buf, std::min(count, limit));
    }
    errno = fault.err;
    return -1;
}

}  // namespace

#define HV_SEAM_DEFINE_G(ret, name, params, args, fails)                   \
    extern "C" ret name params                                             \
    {                                                                      \
        return pass<ret>(id_##name, [&]() -> ret {                         \
            return real<decltype(&::name)>(id_##name) args;                \
        });                                                                \
    }
#define HV_SEAM_DEFINE_S(ret, name, params, args, fails)
#define HV_SEAM_DEFINE(ret, name, params, args, fails, how) \
    HV_SEAM_DEFINE_##how(ret, name, params, args, fails)
HV_SEAM_CALLS(HV_SEAM_DEFINE)
#undef HV_SEAM_DEFINE

extern "C" ssize_t sxl_read(int fd, void *buf, size_t count)
{
    return transfer(id_sxl_read, fd, buf, count);
}

extern "C" ssize_t sxl_write(int fd, const void *buf, size_t count)
{
    return transfer(id_sxl_write, fd, buf, count);
}

extern "C" void sxl_exit(int status)
{
    rows[id_sxl_exit].count.fetch_add(1, std::memory_order_relaxed);
    real<decltype(&::sxl_exit)>(id_sxl_exit)(status);
    abort();
}

extern "C" time_t sxl_time(time_t *t)
{
    hv::test::Fault fault;
    if (take_fault(id_sxl_time, &fault)) {
        errno = fault.err;
        return static_cast<time_t>(-1);
    }
    if (!clock_stopped.load(std::memory_order_acquire))
        return real<decltype(&::sxl_time)>(id_sxl_time)(t);
    auto now = static_cast<time_t>(clock_value.load(std::memory_order_relaxed));
    if (t != nullptr)
        *t = now;
    return now;
}

extern "C" int hq_UsingValgrind(void)
{
    rows[id_hq_UsingValgrind].count.fetch_add(1, std::memory_order_relaxed);
    if (valgrind_pretended.load(std::memory_order_acquire))
        return valgrind_answer.load(std::memory_order_relaxed);
    return real<decltype(&::hq_UsingValgrind)>(id_hq_UsingValgrind)();
}

namespace hv::test {

void script(const char *call, Fault fault)
{
    Row &row = row_named(call);
    if (row.fails == Fails::kNever)
        die("call has no failure value to script", row.name);
    if (fault.skip < 0 || fault.times < Fault::kForever)
        die("bad skip or times in the fault for", row.name);
    std::lock_guard lock(fault_mutex);
    row.fault = fault;
    row.armed.store(fault.times != 0, std::memory_order_release);
}

void clear_faults()
{
    std::lock_guard lock(fault_mutex);
    for (Row &row : rows) {
        row.armed.store(false, std::memory_order_release);
        row.fault = Fault{};
    }
}

long calls(const char *call)
{
    return row_named(call).count.load(std::memory_order_relaxed);
}

void pretend_valgrind(int value)
{
    valgrind_answer.store(value, std::memory_order_relaxed);
    valgrind_pretended.store(true, std::memory_order_release);
}

void reset_valgrind()
{
    valgrind_pretended.store(false, std::memory_order_release);
}

void set_time(long long t)
{
    clock_value.store(t, std::memory_order_relaxed);
    clock_stopped.store(true, std::memory_order_release);
}

void reset_time()
{
    clock_stopped.store(false, std::memory_order_release);
}

}  // namespace hv::test
