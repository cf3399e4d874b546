// O_PATH opens nothing for reading: a fifo cannot block the walk, a device driver
// never sees an open, and search permission on the directories is all it takes.
// With O_NOFOLLOW such an open yields the link itself instead of failing, so its
// owner is read from the same descriptor its text is then read through: the link
// checked is the link followed, whatever is renamed meanwhile.
#include "internal/walk.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

namespace hv {
namespace {

constexpr int kStep = O_PATH | O_NOFOLLOW | O_CLOEXEC;
// As many links as the kernel itself follows in one lookup.
constexpr int kMaxLinks = 40;

// rest becomes the link's text followed by what came after the link (tail, a
// suffix of rest). False, with errno, when the link cannot be read or the whole
// does not fit.
bool splice_link(int link, char (&rest)[PATH_MAX], const char *tail) {
    char text[PATH_MAX];
    const ssize_t length = ::readlinkat(link, "", text, sizeof text);
    if (length < 0) return false;
    const std::size_t tail_length = std::strlen(tail);
    if (static_cast<std::size_t>(length) + tail_length >= sizeof rest) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memmove(rest + length, tail, tail_length + 1);
    std::memcpy(rest, text, static_cast<std::size_t>(length));
    return true;
}

}  // namespace

PathFd walk(int dir, const char *path, Links links) noexcept {
    char rest[PATH_MAX];
    const std::size_t length = ::strnlen(path, sizeof rest);
    // An empty name names no file, as for the kernel's own lookup: not dir itself.
    if (length == 0 || length == sizeof rest) {
        errno = length == 0 ? ENOENT : ENAMETOOLONG;
        return PathFd{};
    }
    std::memcpy(rest, path, length + 1);

    PathFd at(::openat(dir, path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    int followed = 0;
    char *next = rest;
    while (at) {
        while (*next == '/') ++next;
        if (*next == '\0') return at;
        char *const end = next + std::strcspn(next, "/");
        const char after = *end;
        *end = '\0';
        PathFd step(::openat(at.get(), next, kStep));
        *end = after;
        struct stat st;
        if (!step || ::fstat(step.get(), &st) != 0) return PathFd{};
        if (S_ISLNK(st.st_mode)) {
            if (links != Links::kRootOwned || st.st_uid != 0 || ++followed > kMaxLinks) {
                errno = ELOOP;
                return PathFd{};
            }
            if (!splice_link(step.get(), rest, end)) return PathFd{};
            next = rest;
            // A relative link goes on from the directory that holds it.
            if (rest[0] == '/') at = PathFd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            continue;
        }
        // "file/" and "file/." name no file, as the kernel's own lookup agrees.
        if (after == '/' && !S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            return PathFd{};
        }
        at = std::move(step);
        next = end;
    }
    return PathFd{};
}

}  // namespace hv
