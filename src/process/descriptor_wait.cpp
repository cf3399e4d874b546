// Waiting, with a time limit, until one descriptor is ready for what the caller
// asks: reading, writing or an exceptional condition.

#include <cerrno>
#include <sys/select.h>

#include "hv_ext.h"
#include "sxl.h"

namespace hv::process {
namespace {

constexpr unsigned int kMicrosPerSecond = 1000000;

// A flag is wanted when it is non-zero; a null flag is simply not wanted.
bool wanted(const int *flag) { return flag != nullptr && *flag != 0; }

void add_if(bool want, int fd, fd_set &set) {
    if (want) FD_SET(fd, &set);
}

void answer_if(bool want, int *flag, bool ready) {
    if (want) *flag = ready ? 1 : 0;
}

}  // namespace
}  // namespace hv::process

using namespace hv::process;

// The sets are fixed at FD_SETSIZE bits, and FD_SET past them would write beyond
// the set: such a descriptor is refused before anything waits.
extern "C" int ext_WaitOnFd(int fd, int *read_wanted, int *write_wanted, int *exception_wanted,
                            unsigned int usec) noexcept {
    if (fd < 0 || fd >= FD_SETSIZE) {
        errno = EBADF;
        return -1;
    }
    const bool want_read = wanted(read_wanted);
    const bool want_write = wanted(write_wanted);
    const bool want_exception = wanted(exception_wanted);

    fd_set readable, writable, exceptional;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&exceptional);
    add_if(want_read, fd, readable);
    add_if(want_write, fd, writable);
    add_if(want_exception, fd, exceptional);
    timeval limit = {};
    limit.tv_sec = static_cast<time_t>(usec / kMicrosPerSecond);
    limit.tv_usec = static_cast<suseconds_t>(usec % kMicrosPerSecond);

    const int result = sxl_select(fd + 1, &readable, &writable, &exceptional, &limit);
    // Only a positive result says anything about the sets. A failed select leaves
    // them as they were given, and Linux quietly ignores a descriptor beyond the
    // process's descriptor table: it times out and writes back only the bits
    // below the table's size, so the bit stays set. Either way, read back, the
    // sets would call a wanted condition ready.
    const bool ok = result > 0;
    answer_if(want_read, read_wanted, ok && FD_ISSET(fd, &readable));
    answer_if(want_write, write_wanted, ok && FD_ISSET(fd, &writable));
    answer_if(want_exception, exception_wanted, ok && FD_ISSET(fd, &exceptional));
    return result;
}
