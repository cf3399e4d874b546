// Owners of what the platform call layer opens: closed on every way out of a scope.
#pragma once

#include <cstdio>

#include "sxl.h"

namespace hv {

// A stream from sxl_fopen.
class OwnedFile {
public:
    explicit OwnedFile(FILE *file) noexcept : file_(file) {}
    ~OwnedFile() {
        if (file_ != nullptr) sxl_fclose(file_);
    }
    OwnedFile(const OwnedFile &) = delete;
    OwnedFile &operator=(const OwnedFile &) = delete;

    explicit operator bool() const noexcept { return file_ != nullptr; }
    FILE *get() const noexcept { return file_; }

private:
    FILE *file_;
};

// A descriptor from sxl_open, sxl_dup or sxl_pipe.
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) noexcept : fd_(fd) {}
    ~OwnedFd() { reset(); }
    OwnedFd(const OwnedFd &) = delete;
    OwnedFd &operator=(const OwnedFd &) = delete;

    explicit operator bool() const noexcept { return fd_ >= 0; }
    int get() const noexcept { return fd_; }
    // Gives the descriptor up without closing it.
    int release() noexcept {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor now; the result of sxl_close, or 0 when none was held.
    int reset() noexcept {
        int fd = release();
        return fd >= 0 ? sxl_close(fd) : 0;
    }

private:
    int fd_;
};

}  // namespace hv
