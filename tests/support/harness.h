// The test harness: every test program runs in its own private mount namespace with
// a fresh installation laid out by the shared main (tests/support/main.cpp):
//   /opt            tmpfs, with /opt/morvek/bin
//   /srv            tmpfs, with the home area kHome (HV_DATADIR points at it)
//   /tmp            tmpfs
//   /etc            a private copy: /etc/passwd holds the morvek account, and
//                   /etc/timezone can be rewritten
//   /usr            writable overlay (root mode only): /usr/morvek/bin, /usr/lib/...
#pragma once

#include <string_view>
#include <sys/types.h>

namespace hv::test {

inline constexpr const char *kHome = "/srv/mail";
inline constexpr uid_t kMorvekUid = 4242;
inline constexpr gid_t kMorvekGid = 4242;

// True when the tests run as the real root: children can drop to other users.
// False in a user namespace, where only our own id is mapped.
bool real_root();
// True when /usr is writable inside the sandbox (root mode).
bool usr_writable();

// Creates (or replaces) a file with this content, making missing parent directories.
void write_file(const char *path, std::string_view content);
// Removes a file or an empty directory if it exists.
void remove_path(const char *path);

}  // namespace hv::test

#define HV_REQUIRE_REAL_ROOT()                                                     \
    do {                                                                           \
        if (!::hv::test::real_root())                                             \
            GTEST_SKIP() << "needs real root to act as another user; runs in a "    \
                            "user namespace";                                      \
    } while (0)

#define HV_REQUIRE_WRITABLE_USR()                                                  \
    do {                                                                           \
        if (!::hv::test::usr_writable())                                           \
            GTEST_SKIP() << "needs real root to lay files under /usr";             \
    } while (0)
