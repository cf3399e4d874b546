// File helpers for tests that arrange the installation's fixed files.
#include "harness.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace hv::test {
namespace {

bool make_parents(const std::string &path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::string dir = path.substr(0, pos);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            ADD_FAILURE() << "cannot create " << dir << ": " << strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

void write_file(const char *path, std::string_view content) {
    if (!make_parents(path))
        return;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        ADD_FAILURE() << "cannot create " << path << ": " << strerror(errno);
        return;
    }
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ADD_FAILURE() << "cannot write " << path << ": " << strerror(errno);
            break;
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
}

void remove_path(const char *path) {
    if (unlink(path) == 0 || errno == ENOENT)
        return;
    // unlink refuses directories with EISDIR, or with EPERM as POSIX allows.
    if ((errno == EISDIR || errno == EPERM) && rmdir(path) == 0)
        return;
    ADD_FAILURE() << "cannot remove " << path << ": " << strerror(errno);
}

}  // namespace hv::test
