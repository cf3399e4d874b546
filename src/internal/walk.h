// Opening a path one component at a time, so that a symbolic link someone else
// planted cannot choose the file a privileged caller acts on. Shared by the
// library's ownership transfer and the chown helper.
#pragma once

#include <unistd.h>

namespace hv {

// An O_PATH descriptor from walk(): closed with close(2), not through the platform
// call layer, which did not open it.
class PathFd {
public:
    explicit PathFd(int fd = -1) noexcept : fd_(fd) {}
    ~PathFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    PathFd(const PathFd &) = delete;
    PathFd &operator=(const PathFd &) = delete;
    PathFd(PathFd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    PathFd &operator=(PathFd &&other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }

    explicit operator bool() const noexcept { return fd_ >= 0; }
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

enum class Links {
    kRefuse,     // any symbolic link fails the walk
    kRootOwned,  // a link root owns is followed, by the same rule; any other fails
};

// Opens path as an O_PATH descriptor, starting at dir (at "/" when path is
// absolute), each component with O_NOFOLLOW. A symbolic link met on the way, the
// last component included, fails the walk with ELOOP unless the rule allows it;
// a followed link's own text is walked in its place. An empty path is ENOENT.
// On failure the descriptor is empty and errno says why.
PathFd walk(int dir, const char *path, Links links) noexcept;

}  // namespace hv
