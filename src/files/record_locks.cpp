// Whole-file record locks: one request folded into a few results, the same with
// resumed waits and retries while the system is short of lock-table entries, and
// the same again under a time limit kept by the alarm timer.

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "hv_ext.h"
#include "sxl.h"

namespace hv::files {
namespace {

// The 64-bit record and its commands. On i386 these are the commands 13 and 14;
// on x86_64 the ordinary commands already take 64-bit offsets and the names map
// onto them.
#if defined(__i386__)
static_assert(F_SETLK64 == 13 && F_SETLKW64 == 14);
#endif
constexpr int kSetLock = F_SETLK64;
constexpr int kSetLockWait = F_SETLKW64;

constexpr int kRefused = -1;
constexpr int kHeldElsewhere = EAGAIN;
constexpr int kOnePause = 1;

struct Request {
    short type;
    int command;
};

// What each accepted kind asks of the platform. Unlocking never waits for
// anything, so the waiting command is as good as the other for it.
bool request_for(int kind, Request *request) {
    switch (kind) {
    case HV_EXT_LOCK_READ: *request = {F_RDLCK, kSetLockWait}; return true;
    case HV_EXT_LOCK_WRITE: *request = {F_WRLCK, kSetLockWait}; return true;
    case HV_EXT_LOCK_READ | HV_EXT_LOCK_NOWAIT: *request = {F_RDLCK, kSetLock}; return true;
    case HV_EXT_LOCK_WRITE | HV_EXT_LOCK_NOWAIT: *request = {F_WRLCK, kSetLock}; return true;
    case HV_EXT_LOCK_UNLOCK: *request = {F_UNLCK, kSetLockWait}; return true;
    default: return false;
    }
}

// Only the waiting kinds are worth retrying when lock-table entries run out; the
// others get the answer a held lock would give.
bool waits(int kind) { return kind == HV_EXT_LOCK_READ || kind == HV_EXT_LOCK_WRITE; }

// It only has to exist: its arrival interrupts the waiting request.
void on_alarm(int) {}

// SIGALRM borrowed for one timed request. The default action would end the
// process if a late alarm arrived after the call, so that comes back as ignore.
class BorrowedAlarm {
public:
    BorrowedAlarm() noexcept : previous_(ext_signal(SIGALRM, on_alarm)) {}
    ~BorrowedAlarm() {
        if (previous_ == SIG_ERR) return;
        ext_signal(SIGALRM, previous_ == SIG_DFL ? SIG_IGN : previous_);
    }
    BorrowedAlarm(const BorrowedAlarm &) = delete;
    BorrowedAlarm &operator=(const BorrowedAlarm &) = delete;

private:
    ext_sighandler_t previous_;
};

}  // namespace
}  // namespace hv::files

using namespace hv::files;

extern "C" int ext_RawLockFile(int fd, int kind, int resume) noexcept {
    Request request;
    if (!request_for(kind, &request)) return kRefused;
    struct flock64 record = {};
    record.l_type = request.type;
    record.l_whence = SEEK_SET;
    record.l_start = 0;
    record.l_len = 0;  // to the end of the file, however far it grows
    record.l_pid = 0;
    for (;;) {
        if (sxl_rawfcntl(fd, request.command, &record) != -1) return 0;
        const int err = errno;
        if (err == EINTR && resume != 0) continue;
        if (err == EAGAIN || err == EACCES) return kHeldElsewhere;
        return err;
    }
}

extern "C" int ext_LockFile(int fd, int kind) noexcept {
    for (;;) {
        const int result = ext_RawLockFile(fd, kind, 1);
        if (result != ENOLCK) return result;
        if (!waits(kind)) return kHeldElsewhere;
        sleep(kOnePause);
    }
}

extern "C" int ext_TimedLockFile(int fd, int kind, unsigned int seconds) noexcept {
    BorrowedAlarm borrowed;
    unsigned int budget = seconds;
    for (;;) {
        alarm(budget);
        const int result = ext_RawLockFile(fd, kind, 0);
        const unsigned int left = alarm(0);
        if (left == 0 || result != ENOLCK) return result;
        if (!waits(kind)) return kHeldElsewhere;
        // The pause is charged to the budget, and alarm(0) would mean no limit at
        // all: with a second or less left there is no time for another attempt.
        if (left <= kOnePause) return result;
        sleep(kOnePause);
        budget = left - kOnePause;
    }
}
