#include "open_below.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace hvchown {
namespace {

// Whether rest ("" or "/...") names anything but the directory it starts from.
bool names_below(const char *rest) {
    for (;;) {
        rest += std::strspn(rest, "/");
        const std::size_t length = std::strcspn(rest, "/");
        if (length == 0) return false;
        if (length != 1 || rest[0] != '.') return true;
        rest += length;
    }
}

}  // namespace

hv::PathFd open_below(const char *area, std::size_t area_length, const char *path) {
    char top[PATH_MAX];
    if (area_length >= sizeof top) {
        errno = ENAMETOOLONG;
        return hv::PathFd{};
    }
    std::memcpy(top, area, area_length);
    top[area_length] = '\0';
    const char *rest = path + area_length;
    if (names_below(rest)) {
        const hv::PathFd at(::open(top, O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!at) return hv::PathFd{};
        return hv::walk(at.get(), rest + std::strspn(rest, "/"), hv::Links::kRefuse);
    }
    hv::PathFd self(::open(top, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!self || ::fstat(self.get(), &st) != 0) return hv::PathFd{};
    if (S_ISLNK(st.st_mode)) {
        errno = ELOOP;
        return hv::PathFd{};
    }
    return self;
}

}  // namespace hvchown
