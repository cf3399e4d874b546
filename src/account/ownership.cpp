// Ownership transfer: gives a file to the system account. The ordinary change is
// tried first; when the system refuses it for lack of privilege (EPERM), the chown
// helper "hvchown" of the installation's bin directory is run to make it.
//
// A caller that may change owners itself (root, or CAP_CHOWN) could be made to give
// away any file of the system through a symbolic link that the account, or anyone
// else, planted in the account's own area. For such a caller the name is walked a
// component at a time and only links root owns are followed (internal/walk.h); the
// steps then act on the descriptor the walk ended on, so that nothing renamed
// between the check and the change can redirect it.

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "hq.h"
#include "hv_ext.h"
#include "internal/path_buffer.h"
#include "internal/walk.h"
#include "sxl.h"

namespace hv::account {
namespace {

constexpr char kHelperDir[] = "~/bin/";
constexpr char kHelperName[] = "hvchown";
// What the helper's child ends with when the helper cannot be executed.
constexpr int kCannotExecute = 1;
// "%d" of a 32-bit id: a sign, ten digits and the NUL.
constexpr std::size_t kIdText = 12;

struct Account {
    uid_t uid;
    gid_t gid;
};

// An errno value as a result; a lookup that failed without setting errno must
// not read as success.
int errno_or(int fallback) { return errno != 0 ? errno : fallback; }

// 0 with both ids, else the errno value the failed lookup left: the lookup's own
// reason is the most a caller can be told about a missing account.
int look_up(Account *account) {
    account->uid = ext_GetOrdavinUid();
    account->gid = ext_GetOrdavinGid();
    return account->uid == 0 || account->gid == 0 ? errno_or(ENOENT) : 0;
}

bool owned_by(const sxl_statbuf &st, const Account &account) {
    return st.uid == account.uid && st.gid == account.gid;
}

// The name resolved into path, or copied unchanged when it does not resolve.
// 0, or ENAMETOOLONG when neither fits a path buffer (nothing is changed then).
int to_path(const char *name, char *path) {
    if (name == nullptr) return EINVAL;
    if (ext_GetActualFName(name, path) != nullptr) return 0;
    return join_path(path, bounded_path(name), {}) ? 0 : ENAMETOOLONG;
}

// Runs the helper and waits for it: its exit code, or the errno value of a failed
// vfork or wait. Everything the child touches is built before the vfork: the child
// shares this process's memory until it execs, so it may only exec or end, and
// ends with _exit. exit would run this process's exit handlers and destructors in
// the child, and they would then be gone when this process needs them.
int spawn_and_wait(const char *program, char *const argv[]) {
    const pid_t pid = vfork();
    if (pid == 0) {
        sxl_execv(program, argv);
        _exit(kCannotExecute);
    }
    if (pid < 0) return errno;
    // Waits for any child: one that is not the helper is passed over, and its
    // status is lost.
    int status = 0;
    for (;;) {
        const pid_t ended = sxl_wait(&status);
        // The exit code's bits whatever ended the helper: a signal gives 0 here, and
        // callers of the suite have always read the result this way.
        if (ended == pid) return (status >> 8) & 0xff;
        if (ended == -1 && errno == EINTR) continue;
        if (ended <= 0) return errno_or(ECHILD);
    }
}

int run_helper(char *path, const Account &account) {
    if (hq_UsingValgrind() != 0) return 0;

    char uid_text[kIdText];
    char gid_text[kIdText];
    std::snprintf(uid_text, sizeof uid_text, "%d", static_cast<int>(account.uid));
    std::snprintf(gid_text, sizeof gid_text, "%d", static_cast<int>(account.gid));
    char helper_name[sizeof kHelperName];
    std::memcpy(helper_name, kHelperName, sizeof kHelperName);
    char *const argv[] = {helper_name, path, uid_text, gid_text, nullptr};

    char program[kPathMax];
    if (ext_GetActualFName(kHelperDir, program) == nullptr ||
        !join_path(program, std::string_view{program}, kHelperName))
        return ENAMETOOLONG;

    // With SIGCHLD ignored the helper would be reaped by the kernel and the wait
    // would fail; with the caller's reaper installed it could be reaped there.
    const ext_sighandler_t previous = ext_signal(SIGCHLD, SIG_DFL);
    const int result = spawn_and_wait(program, argv);
    if (previous != SIG_ERR) ext_signal(SIGCHLD, previous);
    return result;
}

// CAP_CHOWN in the effective set, which root has unless it gave it up. When the
// kernel will not say, the caller is taken to have it: the careful way is then
// taken for a caller that did not need it, never the other way round.
bool may_change_owners() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return true;
    return (data[CAP_CHOWN / 32].effective & (1u << (CAP_CHOWN % 32))) != 0;
}

// "/proc/self/fd/" and a descriptor number.
constexpr std::size_t kFdName = 32;

// The file the ordinary steps act on. By name, through the platform call layer; for
// a privileged caller the name is /proc/self/fd/N, which the kernel resolves to the
// walked descriptor's file and nothing else. Where /proc is missing (a chroot), the
// descriptor itself is used.
class Target {
public:
    explicit Target(const char *path) noexcept : name_(path) {}
    explicit Target(int fd) noexcept : fd_(fd) {
        struct stat by_fd, by_name;
        std::snprintf(fd_name_, sizeof fd_name_, "/proc/self/fd/%d", fd);
        if (::fstat(fd, &by_fd) == 0 && ::stat(fd_name_, &by_name) == 0 &&
            by_fd.st_dev == by_name.st_dev && by_fd.st_ino == by_name.st_ino)
            name_ = fd_name_;
    }

    bool owned_by(const Account &account) const {
        if (name_ != nullptr) {
            sxl_statbuf st;
            return sxl_stat(name_, &st) == 0 && st.uid == account.uid && st.gid == account.gid;
        }
        struct stat st;
        return ::fstat(fd_, &st) == 0 && st.st_uid == account.uid && st.st_gid == account.gid;
    }
    // 0, or -1 with errno.
    int change(const Account &account) const {
        if (name_ != nullptr) return sxl_chown(name_, account.uid, account.gid);
        return ::fchownat(fd_, "", account.uid, account.gid, AT_EMPTY_PATH);
    }

private:
    const char *name_ = nullptr;
    int fd_ = -1;
    char fd_name_[kFdName] = {};
};

// The ordinary steps, then the helper on path when the change is refused for lack
// of privilege.
int give(const Target &target, char *path, const Account &account) {
    if (target.owned_by(account)) return 0;
    if (target.change(account) == 0) return 0;
    if (errno != EPERM) return errno;
    return run_helper(path, account);
}

int give_walked(char *path, const Account &account) {
    const PathFd fd = walk(AT_FDCWD, path, Links::kRootOwned);
    if (!fd) return errno;
    return give(Target(fd.get()), path, account);
}

}  // namespace
}  // namespace hv::account

using namespace hv;
using namespace hv::account;

extern "C" int ext_ChownToOrdavin(const char *name) noexcept {
    char path[kPathMax];
    if (const int err = to_path(name, path)) return err;
    Account account;
    if (const int err = look_up(&account)) return err;
    if (may_change_owners()) return give_walked(path, account);
    return give(Target(path), path, account);
}

extern "C" int ext_FChownToOrdavin(int fd, const char *name) noexcept {
    if (hq_UsingValgrind() != 0) return 0;
    Account account;
    if (const int err = look_up(&account)) return err;
    sxl_statbuf st;
    if (sxl_fstat(fd, &st) == 0 && owned_by(st, account)) return 0;
    if (sxl_fchown(fd, account.uid, account.gid) == 0) return 0;
    if (errno != EPERM) return errno;
    char path[kPathMax];
    if (const int err = to_path(name, path)) return err;
    return run_helper(path, account);
}
