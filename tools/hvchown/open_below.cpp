// The walk below an area. O_PATH opens nothing for reading: a fifo cannot block
// the walk, a device driver never sees an open, and search permission on the
// directories is all the caller needs. O_NOFOLLOW on such a descriptor opens a
// link itself instead of failing, so fstat names the link as one.
#include "open_below.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <utility>

namespace hvchown {
namespace {

constexpr int kStep = O_PATH | O_NOFOLLOW | O_CLOEXEC;

// Opens name (length characters, NUL added here) in dir and examines it.
Target open_step(int dir, const char *name, std::size_t length) {
    Target step;
    char component[NAME_MAX + 1];
    if (length > NAME_MAX) {
        errno = ENAMETOOLONG;
        return step;
    }
    std::memcpy(component, name, length);
    component[length] = '\0';
    step.fd = Fd(::openat(dir, component, kStep));
    if (!step.fd || ::fstat(step.fd.get(), &step.st) != 0) return step;
    step.how = S_ISLNK(step.st.st_mode) ? Opened::kLink : Opened::kOk;
    return step;
}

}  // namespace

Target open_below(const char *area, unsigned long area_length, const char *path) {
    char top[PATH_MAX];
    if (area_length >= sizeof top) {
        errno = ENAMETOOLONG;
        return Target{};
    }
    std::memcpy(top, area, area_length);
    top[area_length] = '\0';

    Target at;
    at.fd = Fd(::open(top, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!at.fd || ::fstat(at.fd.get(), &at.st) != 0) return Target{};
    at.how = Opened::kOk;
    bool below = false;
    for (const char *rest = path + area_length; *rest != '\0';) {
        while (*rest == '/') ++rest;
        const std::size_t length = std::strcspn(rest, "/");
        if (length == 0 || (length == 1 && rest[0] == '.')) {
            rest += length;
            continue;
        }
        if (!S_ISDIR(at.st.st_mode)) {
            errno = ENOTDIR;
            return Target{};
        }
        Target next = open_step(at.fd.get(), rest, length);
        if (next.how != Opened::kOk) return next;
        at = std::move(next);
        below = true;
        rest += length;
    }
    if (below) return at;

    // The path names the area itself: its last component is the target, and it
    // must not be a link any more than a file below it may be.
    Target self;
    self.fd = Fd(::open(top, kStep));
    if (!self.fd || ::fstat(self.fd.get(), &self.st) != 0) return Target{};
    self.how = S_ISLNK(self.st.st_mode) ? Opened::kLink : Opened::kOk;
    return self;
}

}  // namespace hvchown
