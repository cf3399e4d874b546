// Ownership transfer, with a recording script as the chown helper; the real helper's checks.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::calls;

constexpr char kFile[] = "/srv/mail/f";
constexpr char kHelper[] = "/opt/morvek/bin/hvchown";
constexpr char kGiven[] = "/srv/mail/f 4242 4242";
const std::string kLongest = "/srv/mail/" + std::string(245, 'n');  // 255 characters

// A row's scene. Without kRefused the ordinary change is made for real, as root.
enum Scene : unsigned {
    kFd = 1,             // given through a descriptor of kFile, not by name
    kOwned = 2,          // kFile is the account's already; kUser: only its user is
    kUser = 4,
    kValgrind = 8,
    kRefused = 16,       // sxl_chown and sxl_fchown fail with EPERM: the helper decides
    kIgnored = 32,       // SIGCHLD was ignored before the call, not caught
    kOtherChild = 64,    // an unrelated child has ended and is not yet reaped
    kInterrupted = 128,  // the first sxl_wait fails with EINTR
};

void caught(int) {}

TEST(Ownership, ChangedWhereNeededElseByTheHelper) {
    const std::string too_long = kLongest + "n";
    const struct {
        const char *name;
        unsigned scene;
        int result;        // also the helper's exit code
        long changes;      // sxl_chown or sxl_fchown calls
        const char *args;  // what the helper was given, "" when it did not run
    } rows[] = {
        {"~/f", kOwned, 0, 0, ""},             {"~/f", kUser, 0, 1, ""},
        {kLongest.c_str(), 0, ENOENT, 1, ""},  {too_long.c_str(), 0, ENAMETOOLONG, 0, ""},
        {"~/f", kValgrind, 0, 1, ""},          {nullptr, kFd, 0, 1, ""},
        {"~/f", kFd | kValgrind, 0, 0, ""},    {"~/f", kRefused, 3, 1, kGiven},
        {"~/f", kRefused | kFd, 5, 1, kGiven}, {"~/f", kRefused | kValgrind, 0, 1, ""},
        {"~nobody/f", kRefused, 0, 1, "~nobody/f 4242 4242"},  // unresolved: as given
        {"~/f", kRefused | kIgnored, 4, 1, kGiven}, {"~/f", kRefused | kInterrupted, 3, 1, kGiven},
        {"~/f", kRefused | kOtherChild, 3, 1, kGiven},
    };
    const int fd = open(kFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    const std::string passwd = "root:x:0:0::/root:/bin/sh\n";
    hv::test::write_file("/etc/passwd", passwd);  // no account: nothing is changed
    EXPECT_NE(ext_ChownToOrdavin("~/f"), 0);
    EXPECT_NE(ext_FChownToOrdavin(fd, "~/f"), 0);
    EXPECT_EQ(calls("sxl_chown") + calls("sxl_fchown") + calls("sxl_stat") + calls("sxl_fstat"), 0);
    hv::test::write_file("/etc/passwd", passwd + "morvek:x:4242:4242::/srv/mail:/bin/sh\n");
    hv::test::write_file(kHelper, "#!/bin/sh\necho \"$@\" > /tmp/args\nexit $(cat /tmp/exit)\n");
    ASSERT_EQ(chmod(kHelper, 0755), 0);
    for (const auto &row : rows) {
        const unsigned s = row.scene;
        if (!(s & kRefused) && !hv::test::real_root()) continue;
        const int refused = s & kRefused ? hv::test::kForever : 0;
        hv::test::script("sxl_chown", EPERM, refused);
        hv::test::script("sxl_fchown", EPERM, refused);
        if (s & kInterrupted) hv::test::script("sxl_wait", EINTR);
        ASSERT_EQ(fchown(fd, s & (kOwned | kUser) ? 4242 : 0, s & kOwned ? 4242 : 0), 0);
        hv::test::remove_path("/tmp/args");
        hv::test::write_file("/tmp/exit", std::to_string(row.result));
        hv::test::pretend_valgrind(s & kValgrind ? 1 : 0);
        const ext_sighandler_t previous = s & kIgnored ? SIG_IGN : caught;
        ext_signal(SIGCHLD, previous);
        siginfo_t ended;
        if (s & kOtherChild && fork() == 0) _exit(0);
        ASSERT_TRUE(!(s & kOtherChild) || waitid(P_ALL, 0, &ended, WEXITED | WNOWAIT) == 0);
        const char *change = s & kFd ? "sxl_fchown" : "sxl_chown";
        const long changes = calls(change);
        const int got = s & kFd ? ext_FChownToOrdavin(fd, row.name) : ext_ChownToOrdavin(row.name);
        std::string args;
        std::getline(std::ifstream("/tmp/args"), args);
        EXPECT_EQ(std::make_tuple(got, calls(change) - changes, args),
                  std::make_tuple(row.result, row.changes, std::string(row.args)))
            << "row " << &row - rows;
        EXPECT_EQ(ext_signal(SIGCHLD, SIG_DFL), previous) << "row " << &row - rows;
    }
}

// Everything a row aims at, root's unless said otherwise; the helper installed setuid root.
constexpr char kScene[] =
    "set -e; mkdir -p /srv/mail/d /srv/mailx /usr/UAP; cd /srv/mail;"
    " touch f ..f h1 mine morveks /srv/mailx/f /opt/morvek/bin/x /usr/UAP/x; ln h1 h2;"
    " ln -s /srv/mail/f link_in; ln -s /etc etc; mkfifo fifo; mknod null c 1 3;"
    " chown 4243:4243 mine; chown 4242:0 morveks;"
    " install -o root -g root -m 4755 " HV_HVCHOWN " /opt/morvek/bin/hvchown";

// Run as root, or as user 4243 through the setuid copy.
const std::string kRun[] = {
    sizeof(void *) == 4 ? "qemu-i386 -L / " HV_HVCHOWN " " : HV_HVCHOWN " ",
    "setpriv --reuid=4243 --regid=4243 --clear-groups /opt/morvek/bin/hvchown "};

struct Attack {
    const char *path;
    int code;
    const char *ids = "4242 4242";  // shell words
    bool stranger = false;
};

constexpr Attack kAttacks[] = {
    // Another user gives away only what is his, or the account's already.
    {"/srv/mail/f", 12, "4242 4242", true}, {"/srv/mail/mine", 0, "4242 4242", true},
    {"/srv/mail/morveks", 0, "4242 4242", true},
    // Each area, a directory, an area itself, a name that only starts with "..".
    {"/srv/mail/f", 0}, {"/opt/morvek/bin/x", 0}, {"/usr/UAP/x", 0}, {"/srv/mail/d", 0},
    {"/srv/mail", 0}, {"/srv/mail/..f", 0},
    // Three words; the account's ids only, in plain decimal that fits the id type.
    {"", 2, ""}, {"/srv/mail/f", 2, "4242"}, {"/srv/mail/f", 2, "4242 4242 x"},
    {"/srv/mail/f", 4, "4243 4242"}, {"/srv/mail/f", 4, "4242 4243"}, {"/srv/mail/f", 4, "0 0"},
    {"/srv/mail/f", 3, "' 4242' 4242"}, {"/srv/mail/f", 3, "4294967296 4242"},
    // Names that leave the areas, lead through links, or name what is not a plain file.
    {"/srv/mail/../mail/f", 5}, {"/srv/mail/d/..", 5}, {"f", 5}, {"/etc/passwd", 6},
    {"/srv/mailx/f", 6}, {"/srv/mail/link_in", 7}, {"/srv/mail/etc/passwd", 7},
    {"/srv/mail/fifo", 8}, {"/srv/mail/null", 8}, {"/srv/mail/h1", 9}, {"/srv/mail/none", 10},
};

TEST(Hvchown, RefusesWhatIsNotTheSuitesToGive) {
    HV_REQUIRE_REAL_ROOT();
    ASSERT_EQ(std::system(kScene), 0);
    ASSERT_EQ(chdir("/srv/mail"), 0);
    for (const Attack &row : kAttacks) {
        if (row.stranger && sizeof(void *) == 4) continue;  // qemu-i386 ignores setuid
        const std::string args = std::string(row.path) + " " + row.ids;
        FILE *out = popen((kRun[row.stranger] + args + " 2>&1 >/dev/null").c_str(), "r");
        std::string err(512, '\0');
        err.resize(std::fread(err.data(), 1, err.size(), out));
        const bool one_line = err.rfind("hvchown: ", 0) == 0 && err.find('\n') == err.size() - 1;
        EXPECT_EQ(std::make_pair(WEXITSTATUS(pclose(out)), row.code ? one_line : err.empty()),
                  std::make_pair(row.code, true))
            << args << ": " << err;
        if (row.code != 0) continue;
        struct stat st {};
        ASSERT_EQ(stat(row.path, &st), 0);
        EXPECT_TRUE(st.st_uid == hv::test::kMorvekUid && st.st_gid == hv::test::kMorvekGid) << args;
    }
}

}  // namespace
