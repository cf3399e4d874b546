// The test harness. A case runs on the machine as it is, as any user, in a private home area
// that HV_DATADIR names (a fresh directory under /tmp, removed afterwards). Only a case named
// Installed... controls the installation's fixed files or acts as other users: sandbox_run
// lays one out for it in a private mount namespace (home area /srv/mail), or skips it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace hv::test {

inline constexpr uid_t kMorvekUid = 4242;
inline constexpr gid_t kMorvekGid = 4242;

// The home area, or a path below it.
std::string home(std::string_view below = {});

// As the real root (not in a user namespace): children can drop to other users, /usr is writable.
bool real_root();

// Creates (or replaces) a file with this content, making missing parent directories.
void write_file(const std::string &path, std::string_view content);
// Removes a file or an empty directory if it exists.
void remove_path(const std::string &path);

}  // namespace hv::test

// For tests that act as another user or lay files under /usr.
#define HV_REQUIRE_REAL_ROOT()                                                         \
    do {                                                                               \
        if (!::hv::test::real_root())                                                  \
            GTEST_SKIP() << "needs the real root: acts as other users or writes /usr"; \
    } while (0)
