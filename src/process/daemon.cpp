// Daemon start-up: fork, let the parent exit once the child leads a session of its
// own, and point the standard descriptors at "/dev/null" and the daemon error log.

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "hv_ext.h"
#include "internal/owned_file.h"
#include "internal/path_buffer.h"
#include "sxl.h"

namespace hv::process {
namespace {

constexpr char kDevNull[] = "/dev/null";
constexpr char kErrorLog[] = "~/logs/daemon.stderr";
// How long the parent waits when no pipe tells it the child's session exists.
constexpr unsigned kUnsignalledWait = 10;
constexpr int kStandardDescriptors = 3;

// The parent's side of the handshake: returns only through its exit.
[[noreturn]] void leave_to_child(OwnedFd &read_end, OwnedFd &write_end, bool piped) {
    if (piped) {
        write_end.reset();
        // Whatever the read brings ends the wait: the byte, end of file when the
        // child died first, or an error.
        char byte;
        sxl_read(read_end.get(), &byte, 1);
        read_end.reset();
    } else {
        sleep(kUnsignalledWait);
    }
    sxl_exit(0);
}

// Makes the standard descriptor `target` refer to the file that sxl_open gave as
// `fd`, leaving no other descriptor behind. sxl_dup only gives the lowest free
// descriptor, which lies below target while a lower standard descriptor is closed:
// those slots are held until the copy lands on target, then given back.
void put_on(int fd, int target) {
    if (fd < 0) return;
    if (fd != target) {
        sxl_close(target);
        int held[kStandardDescriptors];
        int holding = 0;
        int copy = sxl_dup(fd);
        while (copy >= 0 && copy < target && holding < kStandardDescriptors) {
            held[holding++] = copy;
            copy = sxl_dup(fd);
        }
        while (holding > 0) sxl_close(held[--holding]);
        sxl_close(fd);
        if (copy != target) {
            if (copy >= 0) sxl_close(copy);
            return;
        }
    }
    // The platform layer opens and duplicates close-on-exec; a daemon's standard
    // descriptors must reach the programs it runs.
    sxl_rawfcntl(target, F_SETFD, nullptr);
}

// The child's side: one byte to say its session exists. The caller may be gone
// already (any failure of its read ends its wait), and a write to a pipe that
// nobody reads must not end the daemon with SIGPIPE; the signal's disposition
// is the caller's, so it is held back and dropped instead.
void tell_caller(OwnedFd &write_end) {
    sigset_t pipe_signal, previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    const bool held = pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous) == 0;
    const char started = 0;
    sxl_write(write_end.get(), &started, 1);
    write_end.reset();
    if (!held) return;
    if (sigismember(&previous, SIGPIPE) == 0) {
        const timespec no_wait = {};
        sigtimedwait(&pipe_signal, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void redirect_standard_descriptors() {
    put_on(sxl_open(kDevNull, SXL_O_RDONLY, 0), STDIN_FILENO);
    put_on(sxl_open(kDevNull, SXL_O_WRONLY_APPEND, 0), STDOUT_FILENO);
    // The log is used only when it exists already: never created here.
    char log[kPathMax];
    int fd = -1;
    if (ext_GetActualFName(kErrorLog, log) != nullptr) fd = sxl_open(log, SXL_O_WRONLY_APPEND, 0);
    if (fd < 0) fd = sxl_open(kDevNull, SXL_O_WRONLY_APPEND, 0);
    put_on(fd, STDERR_FILENO);
}

}  // namespace
}  // namespace hv::process

using namespace hv;

extern "C" void ext_BecomeDaemon(void) noexcept {
    int ends[2] = {-1, -1};
    const bool piped = sxl_pipe(ends) == 0;
    OwnedFd read_end(piped ? ends[0] : -1);
    OwnedFd write_end(piped ? ends[1] : -1);

    const pid_t pid = sxl_fork();
    if (pid > 0) process::leave_to_child(read_end, write_end, piped);
    if (pid == 0 && piped) {
        read_end.reset();
        sxl_setsid();
        process::tell_caller(write_end);
    } else {
        // No pipe, or no fork: then this process detaches itself in place.
        write_end.reset();
        read_end.reset();
        sxl_setsid();
    }
    process::redirect_standard_descriptors();
}
