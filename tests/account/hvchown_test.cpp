// The chown helper against the ways a caller could abuse it: each row runs the
// built hvchown in a prepared installation and checks its exit code, its one line
// on stderr, and whether the file's owner changed.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"
#include "hv_ext.h"

namespace {

using hv::test::kMorvekGid;
using hv::test::kMorvekUid;
using hv::test::write_file;

constexpr uid_t kStranger = 4243;
constexpr char kInstalled[] = "/opt/morvek/bin/hvchown";

// The build tree holds this program as tests/account/<name> and the helper as
// tools/hvchown. (Under qemu-user, /proc/self/exe names the emulated program.)
std::string built_helper() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string path(exe, static_cast<std::size_t>(n));
    for (int up = 0; up < 3; ++up) path.erase(path.rfind('/'));
    return path + "/tools/hvchown";
}

// The helper as installed: a setuid-root copy, which only a 64-bit build can run
// (this kernel runs no 32-bit program but through qemu, which ignores setuid).
bool install_setuid_copy() {
    std::ifstream in(built_helper(), std::ios::binary);
    std::ofstream out(kInstalled, std::ios::binary);
    out << in.rdbuf();
    out.close();
    return in && out && chown(kInstalled, 0, 0) == 0 && chmod(kInstalled, 04755) == 0;
}

struct Outcome {
    int code = -1;
    std::string err;
};

Outcome run(const std::string &program, const std::vector<std::string> &args, uid_t as) {
    std::vector<std::string> words;
    if (sizeof(void *) == 4) words = {"qemu-i386", "-L", "/"};
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipe_fds[1], 2);
        if (as != 0 && (setgroups(0, nullptr) != 0 || setgid(as) != 0 || setuid(as) != 0))
            _exit(126);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    Outcome outcome;
    char buf[512];
    for (ssize_t n; (n = read(pipe_fds[0], buf, sizeof buf)) > 0;)
        outcome.err.append(buf, static_cast<std::size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    if (waitpid(child, &status, 0) == child && WIFEXITED(status))
        outcome.code = WEXITSTATUS(status);
    return outcome;
}

void make(const char *path, uid_t uid, gid_t gid) {
    write_file(path, "x");
    ASSERT_EQ(chown(path, uid, gid), 0) << path;
}

// Everything a row may aim at, owned by root unless it says otherwise.
void lay_out_scene() {
    make("/srv/mail/f", 0, 0);
    ASSERT_EQ(mkdir("/srv/mail/d", 0755), 0);
    make("/srv/mail/..f", 0, 0);
    make("/opt/morvek/bin/x", 0, 0);
    make("/usr/UAP/x", 0, 0);
    make("/srv/mailx/f", 0, 0);
    make("/tmp/x", 0, 0);
    ASSERT_EQ(symlink("/srv/mail/f", "/srv/mail/link_in"), 0);
    ASSERT_EQ(symlink("/etc/passwd", "/srv/mail/link_out"), 0);
    ASSERT_EQ(symlink("/etc", "/srv/mail/etc"), 0);
    make("/srv/mail/h1", 0, 0);
    ASSERT_EQ(link("/srv/mail/h1", "/srv/mail/h2"), 0);
    ASSERT_EQ(mkfifo("/srv/mail/fifo", 0644), 0);
    ASSERT_EQ(mknod("/srv/mail/null", S_IFCHR | 0666, makedev(1, 3)), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/srv/mail/sock");
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(sock);
    make("/srv/mail/mine", kStranger, kStranger);
    make("/srv/mail/morveks", kMorvekUid, 0);
}

struct Attack {
    const char *label;
    std::vector<std::string> args;
    int expected;
    const char *victim = nullptr;  // whose owner is checked afterwards
    bool changed = false;          // the victim is the account's afterwards
    uid_t caller = 0;              // not root: runs the setuid-root copy
};

void PrintTo(const Attack &row, std::ostream *os) { *os << row.label; }

class Hvchown : public testing::TestWithParam<Attack> {};

TEST_P(Hvchown, RefusesWhatIsNotTheSuitesToGive) {
    HV_REQUIRE_REAL_ROOT();
    const Attack &r = GetParam();
    if (r.caller != 0 && sizeof(void *) == 4) GTEST_SKIP() << "setuid needs a native helper";
    lay_out_scene();
    ASSERT_EQ(chdir("/srv/mail"), 0);
    struct stat before {};
    if (r.victim) {
        ASSERT_EQ(lstat(r.victim, &before), 0);
    }
    if (r.caller != 0) {
        ASSERT_TRUE(install_setuid_copy());
    }

    const Outcome out = run(r.caller != 0 ? kInstalled : built_helper(), r.args, r.caller);
    EXPECT_EQ(out.code, r.expected) << out.err;
    if (r.expected == 0) {
        EXPECT_EQ(out.err, "");
    } else {
        EXPECT_EQ(out.err.rfind("hvchown: ", 0), 0u) << out.err;
        EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1) << out.err;
    }
    if (r.victim) {
        struct stat after {};
        ASSERT_EQ(lstat(r.victim, &after), 0);
        EXPECT_EQ(after.st_uid, r.changed ? kMorvekUid : before.st_uid);
        EXPECT_EQ(after.st_gid, r.changed ? kMorvekGid : before.st_gid);
    }
}

Attack good(const char *label, const char *path) { return {label, {path, "4242", "4242"}, 0, path, true}; }
Attack bad(const char *label, const char *path, int code, const char *victim = nullptr) {
    return {label, {path, "4242", "4242"}, code, victim ? victim : path};
}
Attack ids(const char *label, const char *uid, const char *gid, int code) {
    return {label, {"/srv/mail/f", uid, gid}, code, "/srv/mail/f"};
}

INSTANTIATE_TEST_SUITE_P(
    Helper, Hvchown,
    testing::Values(
        good("GoodFile", "/srv/mail/f"), good("GoodDirectory", "/srv/mail/d"),
        good("HomeAreaItself", "/srv/mail"), good("DotDotPrefixedName", "/srv/mail/..f"),
        good("InstallationRoot", "/opt/morvek/bin/x"), good("UapArea", "/usr/UAP/x"),
        Attack{"Help", {"--help"}, 0},
        ids("WrongUid", "4243", "4242", 4), ids("WrongGid", "4242", "4243", 4),
        ids("Root", "0", "0", 4), ids("NotNumeric", "abc", "4242", 3),
        ids("Signed", "+4242", "4242", 3), ids("Negative", "4242", "-1", 3),
        ids("LeadingBlank", " 4242", "4242", 3), ids("TrailingBlank", "4242", "4242 ", 3),
        ids("Empty", "", "4242", 3), ids("Overflow32", "4294967296", "4242", 3),
        ids("Overflow64", "18446744073709555858", "4242", 3),
        Attack{"NoArguments", {}, 2}, Attack{"TwoArguments", {"/srv/mail/f", "4242"}, 2},
        Attack{"FourArguments", {"/srv/mail/f", "4242", "4242", "x"}, 2, "/srv/mail/f"},
        bad("DotDot", "/srv/mail/../mail/f", 5, "/srv/mail/f"),
        bad("DotDotLast", "/srv/mail/d/..", 5, "/srv/mail"), bad("Relative", "f", 5, "/srv/mail/f"),
        bad("Passwd", "/etc/passwd", 6), bad("Tmp", "/tmp/x", 6),
        bad("AreaPrefixTrick", "/srv/mailx/f", 6), bad("AboveTheArea", "/srv", 6),
        bad("LinkInside", "/srv/mail/link_in", 7, "/srv/mail/f"),
        bad("LinkOutside", "/srv/mail/link_out", 7, "/etc/passwd"),
        bad("LinkInThePath", "/srv/mail/etc/passwd", 7, "/etc/passwd"),
        bad("HardLinked", "/srv/mail/h1", 9), bad("Fifo", "/srv/mail/fifo", 8),
        bad("Device", "/srv/mail/null", 8), bad("Socket", "/srv/mail/sock", 8),
        bad("Missing", "/srv/mail/none", 10, "/srv/mail"),
        bad("FileInThePath", "/srv/mail/f/x", 10, "/srv/mail/f"),
        Attack{"CallersOwnFile", {"/srv/mail/mine", "4242", "4242"}, 0, "/srv/mail/mine", true,
               kStranger},
        Attack{"AccountsFileOtherGroup", {"/srv/mail/morveks", "4242", "4242"}, 0,
               "/srv/mail/morveks", true, kStranger},
        Attack{"AnotherUsersFile", {"/srv/mail/f", "4242", "4242"}, 12, "/srv/mail/f", false,
               kStranger}),
    [](const auto &row) { return std::string(row.param.label); });

// The whole road: an unprivileged caller, refused by the system, has the
// installed helper give its file away.
TEST(HvchownInstalled, LibraryCallerGetsItsFileGivenAway) {
    HV_REQUIRE_REAL_ROOT();
    if (sizeof(void *) == 4) GTEST_SKIP() << "setuid needs a native helper";
    ASSERT_TRUE(install_setuid_copy());
    make("/srv/mail/mine", kStranger, kStranger);
    make("/srv/mail/f", 0, 0);
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kStranger) != 0 || setuid(kStranger) != 0)
            _exit(100);
        const int mine = ext_ChownToOrdavin("~/mine");
        const int theirs = ext_ChownToOrdavin("~/f");
        _exit(mine == 0 && theirs == 12 ? 0 : 101);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    struct stat st {};
    ASSERT_EQ(stat("/srv/mail/mine", &st), 0);
    EXPECT_EQ(st.st_uid, kMorvekUid);
    EXPECT_EQ(st.st_gid, kMorvekGid);
}

}  // namespace
