// Lays out what a test runs on (harness.h): a private home area, or, inside the mount
// namespace sandbox_run made, the installation, whose mounts vanish with the namespace.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"

extern char **environ;

namespace hv::test {
namespace {

constexpr const char *kInstalledHome = "/srv/mail";
constexpr const char *kFreshMounts[] = {"/opt", "/srv", "/tmp"};

constinit bool g_real_root = false;
constinit char g_private_home[] = "/tmp/hv-test-XXXXXX";  // a template until made
constinit const char *g_home = nullptr;

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

// Root inside a user namespace (ours without root, a rootless container) may mount but
// cannot act as other users: only the first namespace's identity map can.
bool in_initial_user_namespace() {
    std::ifstream map("/proc/self/uid_map");
    unsigned long inside = 1, outside = 1, count = 0;
    map >> inside >> outside >> count;
    return map && inside == 0 && outside == 0 && count == 4294967295UL && !(map >> inside);
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

// The trees a fresh mount would hide and that must stay reachable: the build tree (a test
// runs the tools built there, and the sanitizers read its libraries back to symbolise a
// report) and the source tree. Held open before the mounts, bound back after them, a tree
// nested in the other last.
struct Kept {
    std::string path;
    int fd;
};

std::vector<Kept> hold_trees() {
    std::vector<Kept> kept;
    for (const std::string tree : {HV_TEST_BUILD_DIR, HV_TEST_SOURCE_DIR}) {
        for (const char *mount : kFreshMounts)
            if (tree.starts_with(std::string(mount) + "/"))
                kept.push_back({tree, open(tree.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)});
    }
    std::sort(kept.begin(), kept.end(),
              [](const Kept &a, const Kept &b) { return a.path.size() < b.path.size(); });
    return kept;
}

void bind_back(const std::vector<Kept> &kept) {
    for (const Kept &tree : kept) {
        make_dirs(tree.path);
        const std::string source = "/proc/self/fd/" + std::to_string(tree.fd);
        if (mount(source.c_str(), tree.path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            fail("cannot keep the build tree at", tree.path, errno);
        close(tree.fd);
    }
}

// A writable layer over a host directory. The upper layers live on a tmpfs mounted on /opt
// for the moment, which the real /opt tmpfs later covers and the overlays keep alive.
// Files put in the upper layer before the mount hide the host's.
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

// Root and the morvek account alone in the account files, no system zone; the rest of /etc
// stays the host's. A user namespace cannot copy up a file of an unmapped owner, so every
// file a test rewrites starts in the upper layer.
void private_etc() {
    const std::string upper = layer("/etc", "upper/");
    const std::string uid = std::to_string(kMorvekUid), gid = std::to_string(kMorvekGid);
    write_file(upper + "passwd", "root:x:0:0:root:/root:/bin/sh\nmorvek:x:" + uid + ":" + gid +
                                     ":Morvek Server:" + kInstalledHome + ":/bin/sh\n");
    write_file(upper + "group", "root:x:0:\nmorvek:x:" + gid + ":\n");
    write_file(upper + "shadow", "morvek:!:19000:0:99999:7:::\n");
    write_file(upper + "timezone", "");
    overlay("/etc");
}

// Site strings inherited from the caller's shell would change what tests see.
void drop_site_strings() {
    std::vector<std::string> names;
    for (char **env = environ; *env != nullptr; ++env)
        if (strncmp(*env, "HV_SITE_", 8) == 0) names.emplace_back(*env, strcspn(*env, "="));
    for (const std::string &name : names) unsetenv(name.c_str());
}

void install() {
    const std::vector<Kept> kept = hold_trees();
    mount_tmpfs("/opt", "mode=0700");
    private_etc();
    if (g_real_root) {
        overlay("/usr");
        make_dirs("/usr/morvek/bin");
    }
    mount_tmpfs("/opt", "mode=0755");
    make_dirs("/opt/morvek/bin");
    mount_tmpfs("/srv", "mode=0755");
    mount_tmpfs("/tmp", "mode=1777");
    bind_back(kept);
}

}  // namespace

bool set_up() {
    g_real_root = geteuid() == 0 && in_initial_user_namespace();
    const bool installed = in_sandbox_namespace();
    if (installed) install();
    g_home = installed ? kInstalledHome : mkdtemp(g_private_home);
    if (g_home == nullptr) fail("cannot create", g_private_home, errno);
    make_dirs(home("sys"));
    if (chdir(g_home) != 0) fail("cannot enter", g_home, errno);
    if (setenv("HV_DATADIR", g_home, 1) != 0) fail("cannot set", "HV_DATADIR", errno);
    drop_site_strings();
    return installed;
}

void tear_down() {
    std::error_code error;
    if (g_home == g_private_home) std::filesystem::remove_all(g_home, error);
    if (error) fprintf(stderr, "hv-test: cannot remove %s: %s\n", g_home, error.message().c_str());
}

std::string home(std::string_view below) {
    return below.empty() ? std::string(g_home) : g_home + ("/" + std::string(below));
}

bool real_root() { return g_real_root; }

}  // namespace hv::test
