// The sandbox's /etc: a tmpfs copy of the host's, so that tests may rewrite
// /etc/passwd or /etc/timezone, while everything else the C library and the
// dynamic loader read there (nsswitch.conf, ld.so.cache, localtime) stays as on the
// host.
#include "harness.h"
#include "sandbox.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hv::test::detail {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd_ >= 0)
            close(fd_);
    }
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

// A user namespace sees the host's root-only files (shadow, ssl/private) as
// nobody's; they are left out of its copy.
bool not_ours(int err) { return err == EACCES || err == EPERM; }

void copy_owner(int dir, const char *name, const struct stat &st, bool keep_owners) {
    if (keep_owners)
        fchownat(dir, name, st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
}

void copy_file(int src_dir, int dst_dir, const char *name, const struct stat &st,
               bool keep_owners) {
    Fd src(openat(src_dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!src.ok() && not_ours(errno))
        return;
    if (!src.ok())
        fail("cannot open host's /etc file", name, errno);
    Fd dst(openat(dst_dir, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!dst.ok())
        fail("cannot create /etc copy of", name, errno);
    char buf[16384];
    for (;;) {
        ssize_t n = read(src.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail("cannot read host's /etc file", name, errno);
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(dst.get(), buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno != EINTR)
                fail("cannot write /etc copy of", name, errno);
            if (w > 0)
                done += w;
        }
    }
    copy_owner(dst_dir, name, st, keep_owners);
    fchmod(dst.get(), st.st_mode & 07777);
}

void copy_tree(int src_dir, int dst_dir, bool keep_owners) {
    DIR *dir = fdopendir(dup(src_dir));
    if (dir == nullptr)
        fail("cannot list host directory under", "/etc", errno);
    for (;;) {
        // A 32-bit readdir without large-file support ends early with EOVERFLOW
        // on ext4's 64-bit directory offsets: an error here must not pass as the end.
        errno = 0;
        struct dirent *entry = readdir(dir);
        if (entry == nullptr && errno != 0)
            fail("cannot list host directory under", "/etc", errno);
        if (entry == nullptr)
            break;
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        struct stat st;
        if (fstatat(src_dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            fail("cannot examine host's /etc entry", name, errno);
        }
        if (S_ISDIR(st.st_mode)) {
            Fd src(openat(src_dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!src.ok() && not_ours(errno))
                continue;
            if (!src.ok())
                fail("cannot open host's /etc directory", name, errno);
            if (mkdirat(dst_dir, name, 0700) != 0)
                fail("cannot create /etc copy of", name, errno);
            Fd dst(openat(dst_dir, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!dst.ok())
                fail("cannot open /etc copy of", name, errno);
            copy_tree(src.get(), dst.get(), keep_owners);
            copy_owner(dst_dir, name, st, keep_owners);
            fchmod(dst.get(), st.st_mode & 07777);
        } else if (S_ISREG(st.st_mode)) {
            copy_file(src_dir, dst_dir, name, st, keep_owners);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlinkat(src_dir, name, target, sizeof target - 1);
            if (n < 0)
                continue;
            target[n] = '\0';
            if (symlinkat(target, dst_dir, name) != 0)
                fail("cannot create /etc copy of", name, errno);
            copy_owner(dst_dir, name, st, keep_owners);
        }
        // Sockets, fifos and device nodes have no business in /etc.
    }
    closedir(dir);
}

bool read_text(const char *path, std::string &text) {
    Fd fd(open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.ok())
        return false;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd.get(), buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    return n == 0;
}

// Drops any morvek line the host may have and appends ours, keeping the file's mode.
void put_account(const char *path, const char *line, bool create) {
    std::string old_text;
    if (!read_text(path, old_text) && !create)
        return;
    std::string text;
    size_t pos = 0;
    while (pos < old_text.size()) {
        size_t end = old_text.find('\n', pos);
        end = end == std::string::npos ? old_text.size() : end + 1;
        if (old_text.compare(pos, 7, "morvek:") != 0) {
            text.append(old_text, pos, end - pos);
            if (text.back() != '\n')
                text += '\n';
        }
        pos = end;
    }
    text += line;
    Fd fd(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.ok() || write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        fail("cannot add the morvek account to", path, errno);
}

}  // namespace

void private_etc(bool keep_owners) {
    Fd host(open("/etc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!host.ok())
        fail("cannot open", "/etc", errno);
    struct stat st;
    if (fstat(host.get(), &st) != 0)
        fail("cannot examine", "/etc", errno);
    if (mount("tmpfs", "/etc", "tmpfs", 0, "mode=0755") != 0)
        fail("cannot mount a tmpfs on", "/etc", errno);
    Fd copy(open("/etc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!copy.ok())
        fail("cannot open the new", "/etc", errno);
    copy_tree(host.get(), copy.get(), keep_owners);
    fchmod(copy.get(), st.st_mode & 07777);

    const std::string uid = std::to_string(kMorvekUid);
    const std::string gid = std::to_string(kMorvekGid);
    put_account("/etc/passwd",
                ("morvek:x:" + uid + ":" + gid + ":Morvek Server:" + kHome + ":/bin/sh\n").c_str(),
                true);
    put_account("/etc/group", ("morvek:x:" + gid + ":\n").c_str(), true);
    put_account("/etc/shadow", "morvek:!:19000:0:99999:7:::\n", false);
}

}  // namespace hv::test::detail
