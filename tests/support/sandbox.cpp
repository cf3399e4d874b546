// Lays out the installation of harness.h inside the mount namespace that
// sandbox_run made for this process. Every mount vanishes with the namespace.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"

extern char **environ;

namespace hv::test {
namespace {

constinit bool g_real_root = false;

// The directories that hide under a fresh tmpfs and that must stay reachable:
// the build tree (a test may run a tool built there, and the sanitizers read
// the libraries back to symbolise a report) and the source tree.
constexpr const char *kKeptDirs[] = {HV_TEST_BUILD_DIR, HV_TEST_SOURCE_DIR};
constexpr const char *kFreshMounts[] = {"/opt", "/srv", "/tmp"};

struct KeptDir {
    std::string path;
    int fd;
};

[[noreturn]] void fail(const char *what, const std::string &path, int err) {
    fprintf(stderr, "hv-test: %s %s: %s\n", what, path.c_str(), strerror(err));
    exit(1);
}

// Whether sandbox_run recorded the mount namespace we are in.
bool in_sandbox_namespace() {
    const char *recorded = getenv("HV_TEST_SANDBOX");
    struct stat st = {};
    return recorded != nullptr && stat("/proc/self/ns/mnt", &st) == 0 &&
           std::to_string(st.st_ino) == recorded;
}

// Root inside a user namespace (ours without root, a rootless container) may
// mount but cannot act as other users: only the first namespace's identity map
// can.
bool in_initial_user_namespace() {
    std::ifstream map("/proc/self/uid_map");
    unsigned long inside = 1, outside = 1, count = 0;
    map >> inside >> outside >> count;
    return map && inside == 0 && outside == 0 && count == 4294967295UL && !(map >> inside);
}

bool lies_under(const std::string &path, const char *dir) {
    const size_t len = strlen(dir);
    return path.compare(0, len, dir) == 0 && path.size() > len && path[len] == '/';
}

void make_dirs(const std::string &path) {
    for (size_t pos = 1; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) fail("cannot create", part, errno);
    }
}

void mount_tmpfs(const char *dir, const char *options) {
    if (mount("tmpfs", dir, "tmpfs", 0, options) != 0) fail("cannot mount a tmpfs on", dir, errno);
}

std::vector<KeptDir> hold_kept_dirs() {
    std::vector<KeptDir> kept;
    for (const char *dir : kKeptDirs) {
        if (std::none_of(std::begin(kFreshMounts), std::end(kFreshMounts),
                         [dir](const char *mount) { return lies_under(dir, mount); }))
            continue;
        const int fd = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) fail("cannot open", dir, errno);
        kept.push_back({dir, fd});
    }
    // A tree nested in another is bound after it, or the outer bind would hide
    // it.
    std::sort(kept.begin(), kept.end(),
              [](const KeptDir &a, const KeptDir &b) { return a.path.size() < b.path.size(); });
    return kept;
}

void bind_back(const std::vector<KeptDir> &kept) {
    for (const KeptDir &dir : kept) {
        make_dirs(dir.path);
        const std::string source = "/proc/self/fd/" + std::to_string(dir.fd);
        if (mount(source.c_str(), dir.path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            fail("cannot keep the build tree at", dir.path, errno);
        close(dir.fd);
    }
}

// A writable layer over a host directory. The upper layers live on a tmpfs
// mounted on /opt for the moment; the real /opt tmpfs later covers it, and the
// overlays keep it alive. Files put in the upper layer before the mount hide
// the host's.
std::string layer(const char *dir, const char *part) {
    return std::string("/opt/layers") + dir + "/" + part;
}

void overlay(const char *dir) {
    make_dirs(layer(dir, "upper"));
    make_dirs(layer(dir, "work"));
    const std::string options = std::string("lowerdir=") + dir +
                                ",upperdir=" + layer(dir, "upper") +
                                ",workdir=" + layer(dir, "work");
    if (mount("overlay", dir, "overlay", 0, options.c_str()) != 0)
        fail("cannot mount a writable overlay on", dir, errno);
}

// Root and the morvek account alone in the account files, no system zone; the rest
// of /etc (nsswitch.conf, ld.so.cache, localtime) stays the host's. A user namespace
// cannot copy up a file of an unmapped owner, so every file a test rewrites starts
// in the upper layer.
void private_etc() {
    const std::string upper = layer("/etc", "upper/");
    const std::string uid = std::to_string(kMorvekUid), gid = std::to_string(kMorvekGid);
    write_file((upper + "passwd").c_str(), "root:x:0:0:root:/root:/bin/sh\nmorvek:x:" + uid + ":" +
                                               gid + ":Morvek Server:" + kHome + ":/bin/sh\n");
    write_file((upper + "group").c_str(), "root:x:0:\nmorvek:x:" + gid + ":\n");
    write_file((upper + "shadow").c_str(), "morvek:!:19000:0:99999:7:::\n");
    write_file((upper + "timezone").c_str(), "");
    overlay("/etc");
}

// Site strings inherited from the caller's shell would change what tests see.
void drop_site_strings() {
    std::vector<std::string> names;
    for (char **env = environ; *env != nullptr; ++env)
        if (strncmp(*env, "HV_SITE_", 8) == 0) names.emplace_back(*env, strcspn(*env, "="));
    for (const std::string &name : names) unsetenv(name.c_str());
}

}  // namespace

void enter_sandbox() {
    if (!in_sandbox_namespace()) {
        fprintf(stderr,
                "hv-test: not in a namespace of tests/support/sandbox_run, which ctest "
                "puts in front of every test program\n");
        exit(1);
    }
    g_real_root = in_initial_user_namespace();
    std::vector<KeptDir> kept = hold_kept_dirs();
    mount_tmpfs("/opt", "mode=0700");
    private_etc();
    if (g_real_root) {
        overlay("/usr");
        make_dirs("/usr/morvek/bin");
    }
    mount_tmpfs("/opt", "mode=0755");
    make_dirs("/opt/morvek/bin");
    mount_tmpfs("/srv", "mode=0755");
    make_dirs(std::string(kHome) + "/sys");
    mount_tmpfs("/tmp", "mode=1777");
    bind_back(kept);
    if (setenv("HV_DATADIR", kHome, 1) != 0) fail("cannot set", "HV_DATADIR", errno);
    drop_site_strings();
}

bool real_root() { return g_real_root; }

}  // namespace hv::test
