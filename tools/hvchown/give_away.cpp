// Extended attributes are read through /proc/self/fd/N, which the kernel resolves
// to the open file itself: an O_PATH descriptor has no f*xattr calls of its own.
#include "give_away.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace hvchown {
namespace {

// The on-disk form of a POSIX ACL: a 4-byte version, then entries of a 16-bit
// tag, 16-bit permissions and a 32-bit id, little-endian.
constexpr std::size_t kAclHeader = 4;
constexpr std::size_t kAclEntry = 8;
constexpr unsigned kAclUser = 0x02;   // a named user
constexpr unsigned kAclGroup = 0x08;  // a named group
constexpr unsigned kAclWrite = 0x02;
// Far more entries than any file carries; a larger ACL is refused unread.
constexpr std::size_t kAclMax = kAclHeader + 64 * kAclEntry;
constexpr std::size_t kFdName = 32;
// Supplementary groups looked through; a caller in more is taken to be in every one.
constexpr int kGroupsMax = 1024;

unsigned little(const unsigned char *p, int bytes) {
    unsigned value = 0;
    for (int i = bytes; i-- > 0;) value = value << 8 | p[i];
    return value;
}

// Whether the caller's real group or one of its supplementary groups is gid.
bool caller_in(gid_t gid) {
    if (::getgid() == gid) return true;
    gid_t groups[kGroupsMax];
    const int count = ::getgroups(kGroupsMax, groups);
    if (count < 0) return true;
    for (int i = 0; i < count; ++i)
        if (groups[i] == gid) return true;
    return false;
}

// Group write leaves the file writable by the caller when the caller is in the
// account's group, and by no one the account does not already trust otherwise.
bool group_writes(gid_t gid) { return ::getuid() != 0 && caller_in(gid); }

// Whether the ACL named by attribute lets a named user or group other than the
// account (and root) write. kUnknown when it cannot be read.
Verdict judge_acl(const char *name, const char *attribute, uid_t uid, gid_t gid) {
    unsigned char acl[kAclMax];
    const ssize_t size = ::getxattr(name, attribute, acl, sizeof acl);
    if (size < 0) return errno == ENODATA || errno == ENOTSUP ? Verdict::kGive : Verdict::kUnknown;
    for (std::size_t at = kAclHeader; at + kAclEntry <= static_cast<std::size_t>(size);
         at += kAclEntry) {
        const unsigned tag = little(acl + at, 2), perm = little(acl + at + 2, 2);
        const unsigned id = little(acl + at + 4, 4);
        if ((perm & kAclWrite) == 0) continue;
        if (tag == kAclUser && id != uid && id != 0) return Verdict::kWritable;
        if (tag == kAclGroup && (id != gid || group_writes(gid))) return Verdict::kWritable;
    }
    return Verdict::kGive;
}

}  // namespace

Verdict judge(int fd, const struct stat &st, uid_t uid, gid_t gid) {
    if (S_ISREG(st.st_mode) && (st.st_mode & (S_ISUID | S_ISGID)) != 0) return Verdict::kSetId;
    if ((st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && group_writes(gid)))
        return Verdict::kWritable;

    char name[kFdName];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    if (S_ISREG(st.st_mode)) {
        if (::getxattr(name, "security.capability", nullptr, 0) >= 0) return Verdict::kSetId;
        if (errno != ENODATA && errno != ENOTSUP) return Verdict::kUnknown;
    }
    const Verdict access = judge_acl(name, "system.posix_acl_access", uid, gid);
    if (access != Verdict::kGive || !S_ISDIR(st.st_mode)) return access;
    // What a directory's default ACL grants, every file later made in it inherits.
    return judge_acl(name, "system.posix_acl_default", uid, gid);
}

}  // namespace hvchown
