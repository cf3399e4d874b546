// Signal handlers with one fixed meaning, and the reaping of ended children.

#include <cerrno>
#include <signal.h>
#include <sys/wait.h>

#include "hv_ext.h"
#include "sxl.h"

// No SA_RESTART: a slow call that the signal interrupts fails with EINTR, which
// is how a timed wait ends. The handler stays installed after it runs.
extern "C" ext_sighandler_t ext_signal(int signo, ext_sighandler_t handler) noexcept {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    struct sigaction previous = {};
    if (sigaction(signo, &action, &previous) != 0) return SIG_ERR;
    return previous.sa_handler;
}

// Often installed as the SIGCHLD handler, so it leaves errno as it found it: the
// code it interrupted may be about to read errno.
extern "C" int ext_reaper(int) noexcept {
    const int saved_errno = errno;
    pid_t result;
    do {
        result = sxl_waitpid(-1, nullptr, WNOHANG);
    } while (result > 0);
    errno = saved_errno;
    return result;
}
