// Enters the namespaces and lays out the installation of harness.h. Every mount is
// made in a private mount namespace and vanishes with the test process.
#include "sandbox.h"

#include "harness.h"
#include "namespace.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace hv::test {
namespace {

constinit int g_mode = HV_NS_NONE;

// The directories that hide under a fresh tmpfs and that must stay reachable:
// the build tree (a test may run a tool built there, and the sanitizers read the
// libraries back to symbolise a report) and the source tree.
constexpr const char *kKeptDirs[] = {HV_TEST_BUILD_DIR, HV_TEST_SOURCE_DIR};
constexpr const char *kFreshMounts[] = {"/opt", "/srv", "/tmp"};

struct KeptDir {
    std::string path;
    int fd;
};

bool lies_under(const std::string &path, const char *dir) {
    size_t len = strlen(dir);
    return path.compare(0, len, dir) == 0 && path.size() > len && path[len] == '/';
}

void make_dirs(const std::string &path, mode_t mode) {
    for (size_t pos = 1; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            detail::fail("cannot create", part.c_str(), errno);
    }
}

void mount_tmpfs(const char *dir, const char *options) {
    if (mount("tmpfs", dir, "tmpfs", 0, options) != 0)
        detail::fail("cannot mount a tmpfs on", dir, errno);
}

std::vector<KeptDir> hold_kept_dirs() {
    std::vector<KeptDir> kept;
    for (const char *dir : kKeptDirs) {
        std::string path = dir;
        for (const char *mount_point : kFreshMounts) {
            if (!lies_under(path, mount_point))
                continue;
            int fd = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0)
                detail::fail("cannot open", dir, errno);
            kept.push_back({path, fd});
        }
    }
    // A tree nested in another is bound after it, or the outer bind would hide it.
    std::sort(kept.begin(), kept.end(), [](const KeptDir &a, const KeptDir &b) {
        return a.path.size() < b.path.size();
    });
    return kept;
}

void bind_back(const std::vector<KeptDir> &kept) {
    for (const KeptDir &dir : kept) {
        make_dirs(dir.path, 0755);
        std::string source = "/proc/self/fd/" + std::to_string(dir.fd);
        if (mount(source.c_str(), dir.path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            detail::fail("cannot keep the build tree at", dir.path.c_str(), errno);
        close(dir.fd);
    }
}

// A writable layer over a host directory. The upper layers live on a tmpfs
// mounted on /opt for the moment; the real /opt tmpfs later covers it, and the
// overlays keep it alive. Files put in the upper layer before the mount hide the
// host's.
std::string upper_layer(const char *dir) {
    return std::string("/opt/layers") + dir + "/upper";
}

void overlay(const char *dir) {
    const std::string layers = std::string("/opt/layers") + dir;
    make_dirs(layers + "/upper", 0755);
    make_dirs(layers + "/work", 0755);
    const std::string options = std::string("lowerdir=") + dir + ",upperdir=" + layers +
                                "/upper,workdir=" + layers + "/work";
    if (mount("overlay", dir, "overlay", 0, options.c_str()) != 0)
        detail::fail("cannot mount a writable overlay on", dir, errno);
}

// Puts a copy of the host's /etc file into the upper layer, without any morvek line
// the host may have and with `account` appended. A user namespace cannot copy up a
// file of an unmapped owner later, so every file a test rewrites is placed here.
void etc_file(const char *name, const std::string &account) {
    const std::string host = std::string("/etc/") + name;
    struct stat st = {};
    if (stat(host.c_str(), &st) != 0)
        st.st_mode = 0644;
    else if (access(host.c_str(), R_OK) != 0)
        return;  // the host's shadow file, in a user namespace
    std::ifstream in(host);
    std::string text, line;
    while (std::getline(in, line))
        if (line.compare(0, 7, "morvek:") != 0)
            text += line + "\n";
    const std::string copy = upper_layer("/etc") + "/" + name;
    write_file(copy.c_str(), account.empty() ? text : text + account + "\n");
    chmod(copy.c_str(), st.st_mode & 07777);
    (void)!chown(copy.c_str(), st.st_uid, st.st_gid);  // fails harmlessly in a user namespace
}

// /etc/passwd and /etc/group get the morvek account; everything else the C library
// and the loader read there (nsswitch.conf, ld.so.cache, localtime) stays the host's.
void private_etc() {
    make_dirs(upper_layer("/etc"), 0755);
    const std::string uid = std::to_string(kMorvekUid), gid = std::to_string(kMorvekGid);
    etc_file("passwd", "morvek:x:" + uid + ":" + gid + ":Morvek Server:" + kHome + ":/bin/sh");
    etc_file("group", "morvek:x:" + gid + ":");
    etc_file("shadow", "morvek:!:19000:0:99999:7:::");
    etc_file("timezone", "");
    overlay("/etc");
}

// Site strings inherited from the caller's shell would change what tests see.
void drop_site_strings() {
    std::vector<std::string> names;
    for (char **env = environ; *env != nullptr; ++env)
        if (strncmp(*env, "HV_SITE_", 8) == 0)
            names.emplace_back(*env, strcspn(*env, "="));
    for (const std::string &name : names)
        unsetenv(name.c_str());
}

void lay_out(int mode) {
    std::vector<KeptDir> kept = hold_kept_dirs();
    mount_tmpfs("/opt", "mode=0700");
    private_etc();
    if (mode == HV_NS_ROOT) {
        overlay("/usr");
        make_dirs("/usr/morvek/bin", 0755);
    }
    mount_tmpfs("/opt", "mode=0755");
    make_dirs("/opt/morvek/bin", 0755);
    mount_tmpfs("/srv", "mode=0755");
    make_dirs(std::string(kHome) + "/sys", 0755);
    mount_tmpfs("/tmp", "mode=1777");
    bind_back(kept);
    if (setenv("HV_DATADIR", kHome, 1) != 0)
        detail::fail("cannot set", "HV_DATADIR", errno);
    drop_site_strings();
}

}  // namespace

namespace detail {

void fail(const char *what, const char *path, int err) {
    fprintf(stderr, "hv-test: %s %s: %s\n", what, path, strerror(err));
    exit(1);
}

}  // namespace detail

void enter_sandbox() {
    int mode = hv_ns_inherited(HV_NS_READY_ENV);
    if (mode != HV_NS_NONE) {
        g_mode = mode;  // re-executed inside the sandbox: already laid out
        return;
    }
    mode = hv_ns_inherited(HV_NS_ENTERED_ENV);
    if (mode == HV_NS_NONE) {
        char err[256];
        int unavailable;
        mode = hv_ns_enter(err, sizeof err, &unavailable);
        if (mode == HV_NS_NONE) {
            fprintf(stderr, "hv-test: %s\n", err);
            exit(unavailable ? HV_NS_EXIT_UNAVAILABLE : 1);
        }
    }
    unsetenv(HV_NS_ENTERED_ENV);
    lay_out(mode);
    if (hv_ns_export(HV_NS_READY_ENV, mode) != 0)
        detail::fail("cannot set", HV_NS_READY_ENV, errno);
    g_mode = mode;
}

bool real_root() { return g_mode == HV_NS_ROOT; }

bool usr_writable() { return g_mode == HV_NS_ROOT; }

}  // namespace hv::test
