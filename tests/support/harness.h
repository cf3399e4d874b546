// The test harness. A case runs on the machine as it is, as any user, in a private home
// area that HV_DATADIR names (a fresh directory under /tmp, removed afterwards). Only a case
// whose name contains "Installed" controls the installation's fixed files or acts as other
// users: sandbox_run gives it a private mount namespace (or skips it, status 77, where none
// can be entered) and the main lays out a fresh installation there, and nowhere else:
//   /opt            tmpfs, with /opt/morvek/bin
//   /srv            tmpfs, with the home area /srv/mail
//   /tmp            tmpfs
//   /etc            writable overlay: /etc/passwd holds the morvek account
//   /usr            writable overlay (root mode only): /usr/morvek/bin, /usr/lib/...
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace hv::test {

inline constexpr uid_t kMorvekUid = 4242;
inline constexpr gid_t kMorvekGid = 4242;

// Lays out the installation inside sandbox_run's namespace (and returns true), else the
// private home area. Ends the process with one line on stderr if it cannot.
bool set_up();
void tear_down();

// The home area, or a path below it.
std::string home(std::string_view below = {});

// True as the real root (not in a user namespace): children can drop to other users, and
// the installation's /usr is a writable overlay.
bool real_root();

// Creates (or replaces) a file with this content, making missing parent directories.
void write_file(const std::string &path, std::string_view content);
// Removes a file or an empty directory if it exists.
void remove_path(const std::string &path);

}  // namespace hv::test

// For tests that act as another user or lay files under /usr.
#define HV_REQUIRE_REAL_ROOT()                                                        \
    do {                                                                              \
        if (!::hv::test::real_root())                                                 \
            GTEST_SKIP() << "needs the real root: acts as other users or writes /usr"; \
    } while (0)
