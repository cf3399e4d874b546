// Ownership transfer: the ordinary change, and the chown helper when the system
// says EPERM. The helper here is a recording script at /opt/morvek/bin/hvchown;
// tests/account/hvchown_test.cpp runs the real one.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::calls;
using hv::test::Fault;
using hv::test::kMorvekGid;
using hv::test::kMorvekUid;
using hv::test::script;
using hv::test::write_file;

constexpr char kFile[] = "/srv/mail/f";
constexpr char kHelper[] = "/opt/morvek/bin/hvchown";
constexpr char kRecord[] = "/tmp/helper.args";
constexpr int kNoHelper = -1;
constexpr int kNotExecutable = -2;
constexpr uid_t kStranger = 4243;
constexpr char kGiven[] = "/srv/mail/f 4242 4242";
constexpr char kNotRun[] = "(not run)";

// The helper writes its arguments after argv[0] (a script cannot see that one).
void install_helper(int exit_code) {
    if (exit_code == kNoHelper) return;
    write_file(kHelper, "#!/bin/sh\necho \"$@\" > " + std::string(kRecord) + "\nexit " +
                            std::to_string(exit_code < 0 ? 0 : exit_code) + "\n");
    ASSERT_EQ(chmod(kHelper, exit_code == kNotExecutable ? 0644 : 0755), 0);
}

std::string recorded() {
    std::ifstream in(kRecord);
    if (!in) return kNotRun;
    std::string line;
    std::getline(in, line);
    return line;
}

struct stat status_of(const char *path) {
    struct stat st {};
    EXPECT_EQ(lstat(path, &st), 0) << path;
    return st;
}

void make_file(const char *path, uid_t uid, gid_t gid) {
    write_file(path, "x");
    ASSERT_EQ(chown(path, uid, gid), 0);
}

int open_file(const char *path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    return fd;
}

void ignore_signal(int) {}

ext_sighandler_t sigchld_handler() {
    struct sigaction now {};
    sigaction(SIGCHLD, nullptr, &now);
    return now.sa_handler;
}

enum class Call { kName, kDescriptor };

int give(Call call, const char *name) {
    if (call == Call::kName) return ext_ChownToOrdavin(name);
    const int fd = open_file(kFile);
    const int result = ext_FChownToOrdavin(fd, name);
    close(fd);
    return result;
}

// The ordinary change, made for real: needs root to hand files to uid 4242.
struct Change {
    const char *label;
    Call call = Call::kName;
    const char *name = "~/f";
    uid_t uid = 0;  // the file's owner before the call
    gid_t gid = 0;
    int valgrind = 0;
    int expected = 0;
    long changes = 1;  // sxl_chown or sxl_fchown calls
    bool changed = true;  // the file is the account's afterwards
    const char *file = kFile;
};

void PrintTo(const Change &row, std::ostream *os) { *os << row.label; }

class OwnershipChange : public testing::TestWithParam<Change> {};

const std::string kLongest = "/srv/mail/" + std::string(245, 'n');  // 255 characters
const std::string kTooLong = kLongest + "n";

TEST_P(OwnershipChange, ChangesOnlyWhatNeedsIt) {
    HV_REQUIRE_REAL_ROOT();
    const Change &r = GetParam();
    ASSERT_EQ(mkdir("/srv/mail/~nobody", 0755), 0);
    make_file(r.file, r.uid, r.gid);
    ASSERT_EQ(chdir("/srv/mail"), 0);
    hv::test::pretend_valgrind(r.valgrind);

    EXPECT_EQ(give(r.call, r.name), r.expected);
    EXPECT_EQ(calls(r.call == Call::kName ? "sxl_chown" : "sxl_fchown"), r.changes);
    const struct stat st = status_of(r.file);
    EXPECT_EQ(st.st_uid, r.changed ? kMorvekUid : r.uid);
    EXPECT_EQ(st.st_gid, r.changed ? kMorvekGid : r.gid);
    EXPECT_EQ(calls("sxl_wait"), 0);
}

constexpr uid_t kU = kMorvekUid;
constexpr gid_t kG = kMorvekGid;

INSTANTIATE_TEST_SUITE_P(
    Ownership, OwnershipChange,
    testing::Values(
        Change{.label = "AlreadyOwned", .uid = kU, .gid = kG, .changes = 0},
        Change{.label = "OtherGroup", .uid = kU},
        Change{.label = "OtherUser", .name = "/srv/mail/f"},
        Change{.label = "UnresolvedNameUsedAsIs", .name = "~nobody/f",
               .file = "/srv/mail/~nobody/f"},
        Change{.label = "Missing", .name = "~/missing", .expected = ENOENT, .changed = false},
        Change{.label = "LongestNameIsTried", .name = kLongest.c_str(), .expected = ENOENT,
               .changed = false},
        Change{.label = "TooLongNameRefused", .name = kTooLong.c_str(),
               .expected = ENAMETOOLONG, .changes = 0, .changed = false},
        Change{.label = "ValgrindStillChangesByName", .valgrind = 1},
        Change{.label = "DescriptorAlreadyOwned", .call = Call::kDescriptor, .uid = kU,
               .gid = kG, .changes = 0},
        Change{.label = "DescriptorOtherUser", .call = Call::kDescriptor, .name = nullptr},
        Change{.label = "DescriptorValgrindDoesNothing", .call = Call::kDescriptor,
               .valgrind = 1, .changes = 0, .changed = false}),
    [](const auto &row) { return std::string(row.param.label); });

// The helper's run, reached by a scripted EPERM. A row may replace the caller's
// SIGCHLD handler (by default one of our own), script the waits, or leave an
// unrelated child to be passed over.
struct Spawn {
    const char *label;
    Call call = Call::kName;
    const char *name = "~/f";
    int helper = 0;  // its exit code, kNoHelper or kNotExecutable
    int valgrind = 0;
    ext_sighandler_t previous = ignore_signal;
    Fault wait_fault = {0, 0, 0, -1};
    bool other_child = false;
    int expected = 0;
    const char *args = kGiven;  // what the helper was given
    long waits = 1;
};

void PrintTo(const Spawn &row, std::ostream *os) { *os << row.label; }

class HelperRun : public testing::TestWithParam<Spawn> {};

TEST_P(HelperRun, ResultAndArgumentsAndTheHandlerPutBack) {
    const Spawn &r = GetParam();
    write_file(kFile, "x");
    install_helper(r.helper);
    hv::test::pretend_valgrind(r.valgrind);
    script("sxl_chown", {0, Fault::kForever, EPERM, -1});
    script("sxl_fchown", {0, Fault::kForever, EPERM, -1});
    if (r.wait_fault.times != 0) script("sxl_wait", r.wait_fault);
    ASSERT_EQ(ext_signal(SIGCHLD, r.previous), SIG_DFL);
    if (r.other_child) {
        const pid_t other = fork();
        if (other == 0) _exit(0);
        siginfo_t info;
        ASSERT_EQ(waitid(P_PID, other, &info, WEXITED | WNOWAIT), 0);  // ended, not reaped
    }

    EXPECT_EQ(give(r.call, r.name), r.expected);
    while (waitpid(-1, nullptr, 0) > 0) {
    }  // a helper left behind by a failed wait finishes its record
    EXPECT_EQ(recorded(), r.args);
    EXPECT_EQ(calls("sxl_wait"), r.waits);
    EXPECT_EQ(sigchld_handler(), r.previous);
}

const std::string kTooLongToken = "~/" + std::string(254, 't');

INSTANTIATE_TEST_SUITE_P(
    Ownership, HelperRun,
    testing::Values(
        Spawn{.label = "HelperSucceeds"},
        Spawn{.label = "HelperRefuses", .helper = 3, .expected = 3},
        Spawn{.label = "HelperMissing", .helper = kNoHelper, .expected = 1, .args = kNotRun},
        Spawn{.label = "HelperNotExecutable", .helper = kNotExecutable, .expected = 1,
            .args = kNotRun},
        Spawn{.label = "UnresolvedNameGivenAsIs", .name = "~nobody/f",
            .args = "~nobody/f 4242 4242"},
        Spawn{.label = "TooLongTokenRefused", .name = kTooLongToken.c_str(),
            .expected = ENAMETOOLONG, .args = kNotRun, .waits = 0},
        Spawn{.label = "ValgrindSkipsTheHelper", .valgrind = 1, .args = kNotRun, .waits = 0},
        Spawn{.label = "DescriptorResolvesTheName", .call = Call::kDescriptor, .helper = 5,
            .expected = 5},
        Spawn{.label = "DescriptorTooLongName", .call = Call::kDescriptor,
            .name = kTooLong.c_str(), .expected = ENAMETOOLONG, .args = kNotRun, .waits = 0},
        Spawn{.label = "DescriptorNullName", .call = Call::kDescriptor, .name = nullptr,
            .expected = EINVAL, .args = kNotRun, .waits = 0},
        Spawn{.label = "IgnoredSigchldStillWaited", .helper = 4, .previous = SIG_IGN,
            .expected = 4},
        Spawn{.label = "InterruptedWaitRepeated", .helper = 3, .wait_fault = {0, 1, EINTR, -1},
            .expected = 3, .waits = 2},
        Spawn{.label = "FailedWaitReturnsItsErrno", .helper = 3,
            .wait_fault = {0, 1, ECHILD, -1}, .expected = ECHILD},
        Spawn{.label = "OtherChildPassedOver", .helper = 3, .other_child = true, .expected = 3,
            .waits = 2}),
    [](const auto &row) { return std::string(row.param.label); });

TEST(Ownership, MissingAccountChangesNothing) {
    write_file("/etc/passwd", "root:x:0:0:root:/root:/bin/sh\n");
    write_file(kFile, "x");
    errno = 0;
    EXPECT_NE(ext_ChownToOrdavin("~/f"), 0);
    const int fd = open_file(kFile);
    EXPECT_NE(ext_FChownToOrdavin(fd, "~/f"), 0);
    close(fd);
    EXPECT_EQ(calls("sxl_chown") + calls("sxl_fchown") + calls("sxl_stat"), 0);
}

// A real refusal: a child that is another user, on root's file.
TEST(Ownership, UnprivilegedCallerRunsTheHelper) {
    HV_REQUIRE_REAL_ROOT();
    write_file(kFile, "x");
    install_helper(7);
    const int fd = open_file(kFile);
    for (Call call : {Call::kName, Call::kDescriptor}) {
        std::remove(kRecord);
        const pid_t child = fork();
        if (child == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(kStranger) != 0 || setuid(kStranger) != 0)
                _exit(100);
            _exit(call == Call::kName ? ext_ChownToOrdavin("~/f")
                                      : ext_FChownToOrdavin(fd, "~/f"));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(WEXITSTATUS(status), 7);
        EXPECT_EQ(recorded(), "/srv/mail/f 4242 4242");
    }
    close(fd);
    EXPECT_EQ(status_of(kFile).st_uid, 0u);
}

}  // namespace
