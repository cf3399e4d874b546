#include "privilege.h"

#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "hv_ext.h"

namespace hvchown {
namespace {

constexpr char kHomeFile[] = HV_HELPER_HOME_FILE;

bool root_only(const struct stat &st) {
    return st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Every directory from "/" down to the file's: root's, not a link, writable by
// root alone. Then no one else can have put anything on the way, and the path
// reaches the same file each time it is used.
bool directories_root_only() {
    if (kHomeFile[0] != '/') return false;
    char prefix[sizeof kHomeFile];
    std::memcpy(prefix, kHomeFile, sizeof kHomeFile);
    struct stat st;
    if (::lstat("/", &st) != 0 || !root_only(st)) return false;
    for (char *slash = std::strchr(prefix + 1, '/'); slash != nullptr;
         slash = std::strchr(slash + 1, '/')) {
        *slash = '\0';
        const bool ok = ::lstat(prefix, &st) == 0 && S_ISDIR(st.st_mode) && root_only(st);
        *slash = '/';
        if (!ok) return false;
    }
    return true;
}

// The file's first line, which must be an absolute path that fits a path buffer.
bool read_home(char (&home)[HV_EXT_PATH_MAX]) {
    if (!directories_root_only()) return false;
    const int fd = ::open(kHomeFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    char text[HV_EXT_PATH_MAX + 1];
    struct stat st;
    ssize_t length = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && root_only(st))
        length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (length <= 0) return false;
    text[length] = '\0';
    const std::size_t line = std::strcspn(text, "\n");
    if (line >= sizeof home || text[0] != '/') return false;
    std::memcpy(home, text, line);
    home[line] = '\0';
    return true;
}

}  // namespace

bool take_nothing_from_caller() {
    if (::getauxval(AT_SECURE) == 0) return true;
    ::clearenv();
    char home[HV_EXT_PATH_MAX];
    // The library finds the home area where the data-directory library looks for it.
    return read_home(home) && ::setenv("HV_DATADIR", home, 1) == 0;
}

void search_as_caller() {
    ::setfsgid(::getgid());
    ::setfsuid(::getuid());
}

// Changing the file-system user id back to 0 restores the capabilities that
// leaving it dropped (CAP_CHOWN among them).
void change_as_helper() {
    ::setfsuid(::geteuid());
    ::setfsgid(::getegid());
}

}  // namespace hvchown
