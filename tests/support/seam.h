// The fault seam, the one way tests and fuzz programs reach into the library's calls:
// seam.cpp defines every sibling call that can fail (and hq_UsingValgrind, and the C
// library's sleep), and ELF interposition makes libhv_ext call these definitions, which
// forward to the real call unless a fault, the stopped clock or a served file answers.
#pragma once

#include <string_view>

namespace hv::test {

inline constexpr int kForever = -1;

// Makes the next `times` calls of the named call (kForever: every one) fail with errno
// `err` and the call's failure value: -1, null, or `err` itself for the calls that report
// errors by result. A failing sxl_close or sxl_fclose still closes, and a failing
// sxl_pthread_mutex_unlock still unlocks, as the system's own do. An unknown name, or one
// with no failure value, aborts.
void script(const char *call, int err, int times = 1);
void clear_faults();
// Runs `hook` (null: nothing) as each later call of that name is made.
void before_call(const char *call, void (*hook)());
// How many times the named call has been made in this process.
long calls(const char *call);

// Fails the n-th call (n >= 1) made through the seam from now on, whichever it is, with
// the errno a failure of that call usually carries: kOnce that call alone, kPersistent
// every call from it on; kShort makes it, if it is sxl_read or sxl_write, move half its
// bytes. Calls with no failure value are not counted.
enum class Nth { kOnce, kPersistent, kShort };
void fail_nth(long n, Nth mode);
void disarm_nth();
// Whether the n-th call was made, and the first call the fault failed or cut short (null
// when none), as the ordinal-th call of that name since fail_nth.
struct NthHit {
    bool reached;
    const char *call;
    long ordinal;
};
NthHit nth_hit();
// The ordinal of the first call of that name the armed fault met; 0 when none.
long nth_failed(const char *call);

void pretend_valgrind(int value);  // hq_UsingValgrind answers value from now on
// Stops the clock of sxl_time at `t`; while stopped, sleep returns at once and moves it
// on by its seconds.
void set_time(long long t);
long long stopped_time();
// sxl_fopen of `path` reads `content` (kept by the caller) from memory, and sxl_stat
// finds a regular file of that size; with a null view both fail with ENOENT.
void serve_file(const char *path, std::string_view content);
void forget_files();

}  // namespace hv::test
