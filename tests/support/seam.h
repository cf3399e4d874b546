// The fault seam, the one way tests and fuzz programs reach into the library's
// calls: seam.cpp defines every sibling call that can fail (and hq_UsingValgrind,
// and the C library's sleep), and ELF interposition makes libhv_ext call these
// definitions instead of the stand-ins' (or libc's). Each forwards to the real call
// unless a fault is scripted for it, or a file served from memory answers it. The
// calls that cannot fail (sxl_exit, sxl_getuid, sxl_free ...) go straight to the
// stand-in.
#pragma once

#include <cstddef>

namespace hv::test {

inline constexpr int kForever = -1;

// Makes the next `times` calls of the named call ("sxl_realloc", ...; kForever: every
// call from now on, 0: none) fail with errno `err` and the call's failure value: -1,
// null, or `err` itself for the calls that report errors by result (sxl_prealloc and
// the sxl_pthread_ calls). A failing sxl_close or sxl_fclose still closes for real,
// as the system's own do, and a failing sxl_pthread_mutex_unlock still unlocks.
// dtk_getDatadir and tayl_GetString can be scripted too (they return null). An
// unknown name, or hq_UsingValgrind, aborts.
void script(const char *call, int err, int times = 1);
// Removes every scripted fault (counters stay).
void clear_faults();
// Runs `hook` (null: nothing) as each later call of that name is made, before it is
// passed on or failed: the moment the library is inside that call.
void before_call(const char *call, void (*hook)());
// How many times the named call (an sxl_ call, or dtk_getDatadir, tayl_GetString,
// hq_UsingValgrind, sleep) has been made in this process.
long calls(const char *call);
// Fails the n-th call (n >= 1) made through the seam from now on, whichever call
// it is, in the way a failure of that call usually looks (ENOENT for sxl_open,
// ENOMEM for sxl_malloc, ...). Calls that have no failure value are not counted.
// kOnce fails that call alone, kPersistent every call from it on; kShort makes it,
// if it is sxl_read or sxl_write, move half of its bytes (any other call passes).
// Independent of script().
enum class Nth { kOnce, kPersistent, kShort };
void fail_nth(long n, Nth mode);
void disarm_nth();
// What the armed fault met: whether the n-th call was made, and the first call it
// failed or cut short (null when none), as the ordinal-th call of that name since
// fail_nth, with the errno it was given.
struct NthHit {
    bool reached;
    const char *call;
    long ordinal;
    int err;
};
NthHit nth_hit();
// The first call of that name the armed fault failed or cut short, as its
// ordinal since fail_nth; 0 when it met none.
long nth_failed(const char *call);
// Makes hq_UsingValgrind answer `value` from now on.
void pretend_valgrind(int value);
// Stops the clock of sxl_time at `t` seconds since the epoch. A scripted sxl_time
// fault takes precedence. While the clock is stopped, sleep returns at once and
// moves it on by its seconds; stopped_time() reads it.
void set_time(long long t);
long long stopped_time();
// sxl_fopen of `path` reads the `size` bytes of `content` (kept by the caller) from
// memory, and sxl_stat finds a regular file of that size; with null content both
// fail with ENOENT, as for a missing file. Scripted faults still come first. Up to
// eight paths; forget_files() drops them all.
void serve_file(const char *path, const char *content, std::size_t size);
void forget_files();

}  // namespace hv::test
