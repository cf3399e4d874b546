// Opening a path below an installation area without following a planted link.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

namespace hvchown {

// A descriptor closed when its scope ends.
class Fd {
public:
    Fd() noexcept : fd_(-1) {}
    explicit Fd(int fd) noexcept : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd &operator=(Fd &&other) noexcept {
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

enum class Opened {
    kOk,      // fd holds the file, st its status
    kLink,    // a component below the area is a symbolic link
    kFailed,  // a component could not be opened or examined; errno says why
};

struct Target {
    Opened how = Opened::kFailed;
    Fd fd;
    struct stat st {};
};

// Opens path, which lies inside area (area_length characters of it, no trailing
// slash), as an O_PATH descriptor: the area itself is resolved as the installation
// names it, every component below it is opened with O_NOFOLLOW. When path is the
// area, the area's own last component must not be a link either.
Target open_below(const char *area, unsigned long area_length, const char *path);

}  // namespace hvchown
