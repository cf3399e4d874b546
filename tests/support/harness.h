// The test harness: every test program runs in a private mount namespace of its own
// (tests/support/sandbox_run) with a fresh installation laid out by the shared main:
//   /opt            tmpfs, with /opt/morvek/bin
//   /srv            tmpfs, with the home area kHome (HV_DATADIR points at it)
//   /tmp            tmpfs
//   /etc            writable overlay: /etc/passwd holds the morvek account
//   /usr            writable overlay (root mode only): /usr/morvek/bin, /usr/lib/...
#pragma once

#include <sys/types.h>

#include <string_view>

namespace hv::test {

inline constexpr const char *kHome = "/srv/mail";
inline constexpr uid_t kMorvekUid = 4242;
inline constexpr gid_t kMorvekGid = 4242;

// Lays out the installation; ends the process with one line on stderr if it cannot,
// or if this is not a namespace of sandbox_run's.
void enter_sandbox();

// True when the tests run as the real root: children can drop to other users, and
// /usr is a writable overlay. False in a user namespace, where only our own id is
// mapped.
bool real_root();

// Creates (or replaces) a file with this content, making missing parent directories.
void write_file(const char *path, std::string_view content);
// Removes a file or an empty directory if it exists.
void remove_path(const char *path);

}  // namespace hv::test

// For tests that act as another user or lay files under /usr.
#define HV_REQUIRE_REAL_ROOT()                                                                \
    do {                                                                                      \
        if (!::hv::test::real_root()) GTEST_SKIP() << "needs real root; in a user namespace"; \
    } while (0)
