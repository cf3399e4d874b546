// The system account, password ageing, ownership, the real chown helper's checks, then every
// failure of each platform call (tests/support/sweep.h). The play-pen list: the fuzz program.

#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/syscall.h>

#include <cstdio>
#include <regex>

#include "../../src/account/password_age.h"

#include "prelude.h"

namespace {

using hv::test::calls;
using hv::test::Outcome;

// The sandbox's password database: root, and morvek with these ids (null: none).
void set_account(const char *ids) {
    const std::string morvek = ids ? std::string("morvek:x:") + ids + "::/srv/mail:/bin/sh\n" : "";
    hv::test::write_file("/etc/passwd", "root:x:0:0::/root:/bin/sh\n" + morvek);
}

// The ids are looked up until found, then kept. The real group follows an effective group
// that is the account's, even group 0 when there is no account: as root, each gives the
// result (a refusal's errno), the real group afterwards and the sxl_setregid calls.
TEST(InstalledAccountIds, NamesFixedIdsLookedUpUntilFoundThenKept) {
    const auto align = [](gid_t real, gid_t effective, const std::vector<long> &expected) {
        if (!hv::test::real_root()) return;
        ASSERT_EQ(setregid(real, effective), 0);
        const long before = calls("sxl_setregid"), result = ext_SetRGidToOrdavin();
        EXPECT_EQ((std::vector<long>{result, long(getgid()), calls("sxl_setregid") - before}),
                  expected)
            << real << " " << effective;
    };
    char ord[7], hv[9];  // AddressSanitizer sees a byte written past either
    ext_GetOrdUserName(ord);
    ext_GetHvUserName(hv);
    EXPECT_EQ(std::string(ord, 7) + std::string(hv, 9), std::string("morvek\0halvorin", 16));
    set_account(nullptr);
    EXPECT_EQ((std::vector<long>{long(ext_GetOrdavinUid()), ext_SetUidToOrdavin(),
                                 ext_SetGidToOrdavin(), ext_IsSuperUser(4242)}),
              (std::vector<long>{0, EINVAL, EINVAL, 0}));
    align(1234, 0, {0, 0, 1});
    set_account("4242:4343");  // a group id unlike the user id shows which is which
    EXPECT_EQ(ext_GetOrdavinGid(), 4343u);
    set_account(nullptr);
    EXPECT_EQ(ext_GetOrdavinUid(), 4242u);
    for (uid_t uid : {0u, 4241u, 4242u, 4343u, ~0u})
        EXPECT_EQ(ext_IsSuperUser(uid), uid == 0 || uid == 4242) << uid;
    align(4343, 7, {0, 4343, 0});
    align(4343, 4343, {0, 4343, 0});  // already aligned
    align(0, 4343, {0, 4343, 1});
    hv::test::script("sxl_setregid", EPERM);
    align(0, 4343, {EPERM, 0, 1});
}

// Characters 3 and 4 of a four-character text are the week of the last change, two
// digits of "./0-9A-Za-z" (anything else counts as '.'), the low digit first.
TEST(PasswordAge, TextLengthThenWeekDecideAgainstTheClock) {
    const auto aged = [](const std::string &text, long long week) {
        return hv::account::password_aged(text, [week] { return week; });
    };
    for (const char *text : {"a", "zz"}) EXPECT_TRUE(aged(text, 0)) << text;
    for (const char *text : {"", "ab.", "ab..."}) EXPECT_FALSE(aged(text, 5000)) << text;
    const char digits[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (int c = 1; c < 256; ++c) {
        const long long v = std::strchr(digits, c) ? std::strchr(digits, c) - digits : 0;
        const std::string low = {'z', 'z', char(c), '/'}, high = {'.', '.', '0', char(c)};
        const std::vector<bool> got = {aged(low, v + 64), aged(low, v + 65), aged(high, 64 * v + 2),
                                       aged(high, 64 * v + 3)};
        EXPECT_EQ(got, (std::vector<bool>{false, true, false, true})) << c;
    }
}

constexpr char kFile[] = "/srv/mail/f";
constexpr char kHelper[] = "/opt/morvek/bin/hvchown";
constexpr char kGiven[] = "/srv/mail/f 4242 4242";
const std::string kLongest = "/srv/mail/" + std::string(245, 'n');  // 255 characters

void caught(int) {}

bool account_owns(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0 && st.st_uid == hv::test::kMorvekUid &&
           st.st_gid == hv::test::kMorvekGid;
}

// The chown helper: records its arguments in /tmp/args and the descriptors it was started
// with in /tmp/fds (ls adds the directory it lists), exits with this code.
void install_helper(int code) {
    hv::test::write_file(kHelper,
                         "#!/bin/sh\necho \"$@\" >/tmp/args\nls /proc/self/fd >/tmp/fds\nexit " +
                             std::to_string(code));
    chmod(kHelper, 0755);
}

// Takes CAP_CHOWN out of the effective set, or puts it back.
void may_chown(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
    data[0].effective &= ~(1u << CAP_CHOWN);
    data[0].effective |= on ? data[0].permitted & 1u << CAP_CHOWN : 0;
    ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
}

TEST(InstalledOwnership, ChangedWhereNeededElseByTheHelper) {
    const std::string too_long = kLongest + "n";
    // A row: the name, its scene, the result (also the helper's exit code), the sxl_chown or
    // sxl_fchown calls, what the helper was given ("" when it did not run). The scene, a letter
    // each: d by descriptor, not by name; o the file is the account's already, u only its user
    // is; v under Valgrind; r the change is refused (EPERM), the helper decides (else it is made
    // for real, as root); i SIGCHLD ignored, not caught; c an unrelated child has ended, not
    // reaped; e sxl_wait fails once with EINTR; m the helper is missing; p without CAP_CHOWN;
    // n without /proc but with a planted proc/self/fd of decoys on the file's own file system (as
    // in a chroot), where a privileged caller changes the walked descriptor itself.
    const std::tuple<const char *, const char *, int, long, const char *> rows[] = {
        {"~/f", "o", 0, 0, ""},      {"~/f", "u", 0, 1, ""},      {"~/f", "v", 0, 1, ""},
        {nullptr, "d", 0, 1, ""},    {"~/f", "dv", 0, 0, ""},     {"~/f", "r", 3, 1, kGiven},
        {"~/f", "rd", 5, 1, kGiven}, {"~/f", "rv", 0, 1, ""},     {"~/f", "ri", 4, 1, kGiven},
        {"~/f", "re", 3, 1, kGiven}, {"~/f", "rc", 3, 1, kGiven}, {"~/f", "rm", 1, 1, ""},
        {kLongest.c_str(), "", ENOENT, 0, ""}, {too_long.c_str(), "", ENAMETOOLONG, 0, ""},
        {"~nobody/f", "r", 0, 1, "~nobody/f 4242 4242"},  // unresolved: as given
        {"~nobody/f", "p", 0, 1, "~nobody/f 4242 4242"}, {"~/f", "p", 3, 1, kGiven},
        {"~/f", "po", 0, 0, ""},
        // A privileged caller follows only root's links (lnk and dl are the account's).
        {"~/lnk", "", ELOOP, 0, ""}, {"~/dl/out", "", ELOOP, 0, ""}, {"~/rl", "", 0, 1, ""},
        {"", "", ENOENT, 0, ""},  // not the working directory
        {"~/f", "nu", 0, 0, ""},
    };
    ASSERT_EQ(std::system("cd /tmp && mkdir '~nobody' && touch '~nobody/f' out && cd /srv/mail"
                          " && ln -s /tmp/out lnk && ln -s /tmp dl && ln -s f rl && touch decoy"
                          " && mkdir -p proc/self/fd && for n in $(seq 0 99);"
                          " do ln decoy proc/self/fd/$n; done"
                          " && { chown -h 4242:4242 lnk dl 2>/dev/null || true; }"), 0);
    ASSERT_EQ(chdir("/tmp"), 0);
    const int fd = open(kFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    set_account(nullptr);  // no account: nothing is changed
    EXPECT_TRUE(ext_ChownToOrdavin("~/f") != 0 && ext_FChownToOrdavin(fd, "~/f") != 0);
    EXPECT_EQ(calls("sxl_chown") + calls("sxl_fchown") + calls("sxl_stat") + calls("sxl_fstat"), 0);
    set_account("4242:4242");
    for (const auto &row : rows) {
        const auto &[name, scene, result, changes, given] = row;
        const auto has = [scene](char c) { return std::strchr(scene, c) != nullptr; };
        if (!has('r') && !hv::test::real_root()) continue;
        const char *change = has('d') ? "sxl_fchown" : "sxl_chown";
        hv::test::script(change, EPERM, has('r') ? hv::test::kForever : 0);
        hv::test::script("sxl_wait", EINTR, has('e') ? 1 : 0);
        ASSERT_EQ(fchown(fd, has('o') || has('u') ? 4242 : 0, has('o') ? 4242 : 0), 0);
        hv::test::remove_path("/tmp/args");
        install_helper(result);
        if (has('m')) hv::test::remove_path(kHelper);
        hv::test::pretend_valgrind(has('v') ? 1 : 0);
        const ext_sighandler_t previous = has('i') ? SIG_IGN : caught;
        ext_signal(SIGCHLD, previous);
        siginfo_t ended;
        if (has('c') && fork() == 0) _exit(0);
        ASSERT_TRUE(!has('c') || waitid(P_ALL, 0, &ended, WEXITED | WNOWAIT) == 0);
        const long before = calls(change);
        may_chown(!has('p'));
        ASSERT_TRUE(!has('n') || mount("/srv/mail/proc", "/proc", nullptr, MS_BIND, nullptr) == 0);
        const int got = has('d') ? ext_FChownToOrdavin(fd, name) : ext_ChownToOrdavin(name);
        if (has('n')) umount("/proc");
        may_chown(true);
        std::string args;
        std::getline(std::ifstream("/tmp/args"), args);
        EXPECT_EQ(std::make_tuple(got, calls(change) - before, args,
                                  ext_signal(SIGCHLD, SIG_DFL) == previous &&
                                      (!has('n') || account_owns(kFile))),
                  std::make_tuple(result, changes, std::string(given), true))
            << "row " << &row - rows;
    }
    EXPECT_FALSE(account_owns("/tmp/out"));
}

// While a directory of the area and a link of the account's to one outside trade
// places, a root caller gives files away through that directory: never outside.
TEST(InstalledOwnership, ARootCallerIsNeverRedirectedByASwappedLink) {
    HV_REQUIRE_REAL_ROOT();
    set_account("4242:4242");
    ASSERT_EQ(std::system("mkdir -p /srv/mail/d /tmp/o && touch /srv/mail/d/f /tmp/o/f"
                          " && ln -s /tmp/o /srv/mail/l && chown -h 4242:4242 /srv/mail/l"), 0);
    const int inside = open("/srv/mail/d/f", O_RDONLY | O_CLOEXEC);
    const pid_t swapper = fork();
    if (swapper == 0)
        for (;;) renameat2(AT_FDCWD, "/srv/mail/d", AT_FDCWD, "/srv/mail/l", RENAME_EXCHANGE);
    int given = 0;
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(fchown(inside, 0, 0), 0);
        given += ext_ChownToOrdavin("~/d/f") == 0;
    }
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
    EXPECT_FALSE(account_owns("/tmp/o/f"));
    EXPECT_GT(given, 0);
}

int g_fd = -1;

// Programs started while the library holds a file open, or started by it, begin with the
// standard descriptors alone. Each reading routine is caught inside the call that reads the
// file it opened; every file read through sxl_fopen opens alike, so the settings stand for all.
TEST(InstalledDescriptorHygiene, ProgramsStartWithTheStandardDescriptorsAlone) {
    install_helper(0);
    hv::test::write_file("/srv/mail/sys/general.cfg", "A=1\n");
    hv::test::write_file("/srv/mail/sys/sysdata", std::string(44, '\1'));
    hv::test::write_file(kFile, "x");
    g_fd = open(kFile, O_RDWR | O_CLOEXEC);
    hv::test::script("sxl_chown", EPERM);  // once each: the helper rows come first
    hv::test::script("sxl_fchown", EPERM);
    // Whatever this process was given by whoever started it is not the library's.
    ASSERT_EQ(close_range(3, ~0U, CLOSE_RANGE_CLOEXEC), 0);
    const auto helper = [] { std::system(kHelper); };
    const std::tuple<const char *, const char *, void (*)()> rows[] = {
        {"the test itself", nullptr, helper},
        {"helper run by name", nullptr, [] { ext_ChownToOrdavin("~/f"); }},
        {"helper run for a descriptor", nullptr, [] { ext_FChownToOrdavin(g_fd, "~/f"); }},
        {"settings", "sxl_fgets",
         [] {
             char *v;
             ext_GetCustomiseInfo("A", &v);
         }},
        {"start count", "sxl_read", [] { ext_GetSystemStartCount(); }},
        {"copy", "sxl_write", [] { ext_copy("~/f", "/tmp/copy", nullptr); }},
    };
    for (const auto &[label, call, routine] : rows) {
        if (call) hv::test::before_call(call, helper);
        routine();
        if (call) hv::test::before_call(call, nullptr);
        std::string fds;
        std::getline(std::ifstream("/tmp/fds"), fds, '\0');
        hv::test::remove_path("/tmp/fds");
        EXPECT_EQ(fds, "0\n1\n2\n3\n") << label;
    }
}

// Everything a row aims at, root's unless said otherwise; the helper installed setuid root
// and, as hvchown-cap, with CAP_CHOWN, both taking the home area from hvchown.home.
constexpr char kScene[] =
    "set -e; mkdir -p /srv/mail/d /srv/mailx /usr/UAP /srv/mail/o7 /srv/mail/w7 /srv/mail/s7;"
    " cd /srv/mail; touch f ..f h1 mine morveks setid capped w6 acl /srv/mailx/f /tmp/stray"
    " /opt/morvek/bin/x /usr/UAP/x; ln h1 h2; ln -s /srv/mail/f link_in; ln -s /etc etc;"
    " mkfifo fifo; mknod null c 1 3; mkdir -m 700 hidden; touch hidden/mine;"
    " chown 4243:4243 mine hidden/mine /tmp/stray; chown 4242:0 morveks setid capped;"
    " chmod 4755 setid; setcap cap_net_raw+ep capped; chmod 666 w6; chmod 777 o7;"
    " chmod 2777 s7; setfacl -m u:4243:rw acl; echo /srv/mail >/opt/morvek/bin/hvchown.home;"
    " install -o root -g root -m 4755 " HV_HVCHOWN " /opt/morvek/bin/hvchown;"
    " install -o root -g root -m 755 " HV_HVCHOWN " /opt/morvek/bin/hvchown-cap;"
    " setcap cap_chown+ep /opt/morvek/bin/hvchown-cap";

// Run as root, or as user 4243 through the setuid copy, then through the capable one.
const std::string kRun[] = {
    sizeof(void *) == 4 ? "qemu-i386 -L / " HV_HVCHOWN " " : HV_HVCHOWN " ",
    "setpriv --reuid=4243 --regid=4243 --clear-groups /opt/morvek/bin/hvchown ",
    "setpriv --reuid=4243 --regid=4243 --clear-groups /opt/morvek/bin/hvchown-cap "};

struct Attack {
    const char *path;
    int code;
    const char *ids = "4242 4242";  // shell words
    bool stranger = false;
};

constexpr Attack kAttacks[] = {
    // Another user gives away only what is his, not even what the account owns; what he
    // cannot reach he cannot name; his HV_DATADIR does not make an area.
    {"/srv/mail/f", 12, "4242 4242", true}, {"/srv/mail/mine", 0, "4242 4242", true},
    {"/srv/mail/morveks", 12, "4242 4242", true}, {"/srv/mail/mine/.", 10, "4242 4242", true},
    {"/srv/mail/hidden/mine", 10, "4242 4242", true},
    {"/tmp/stray", 6, "4242 4242", true},
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
    {"\"$(printf '/srv/mail/a\\nb\\033\\233')\"", 10},  // said on one plain line
    // What the change would strip, and what others could still write once given.
    {"/srv/mail/setid", 13}, {"/srv/mail/capped", 13}, {"/srv/mail/w6", 14},
    {"/srv/mail/o7", 14}, {"/srv/mail/s7", 14}, {"/srv/mail/acl", 14},
};

TEST(InstalledHvchown, RefusesWhatIsNotTheSuitesToGive) {
    HV_REQUIRE_REAL_ROOT();
    ASSERT_EQ(std::system(kScene), 0);
    ASSERT_EQ(chdir("/srv/mail"), 0);
    for (const Attack &row : kAttacks) {
        // qemu-i386 ignores setuid and file capabilities.
        if (row.stranger && sizeof(void *) == 4) continue;
        for (int run = row.stranger; run <= 2 * row.stranger; ++run) {
            const std::string args = std::string(row.path) + " " + row.ids;
            // A privileged run ignores the caller's HV_DATADIR.
            const char *datadir = row.stranger ? "HV_DATADIR=/tmp " : "";
            FILE *out = popen((datadir + kRun[run] + args + " 2>&1 >/dev/null").c_str(), "r");
            std::string err(512, '\0');
            err.resize(std::fread(err.data(), 1, err.size(), out));
            const bool one_line = std::regex_match(err, std::regex("hvchown: [ -~]*\n"));
            const bool as_told = row.code ? one_line : err.empty() && account_owns(row.path);
            EXPECT_EQ(std::make_pair(WEXITSTATUS(pclose(out)), as_told),
                      std::make_pair(row.code, true))
                << run << ": " << args << ": " << err;
            // Given back, so that the next install has a change to make too.
            ASSERT_TRUE(row.code != 0 || chown(row.path, row.stranger ? 4243 : 0, 0) == 0);
        }
    }
}

// Gives a file of root's away, with the chown helper (exit code 3), a SIGCHLD handler of the
// caller's and no standard input: the walk to a file four names deep then ends on descriptor 0.
// Without a refusal the change is made (in a user namespace the account's ids are not mapped:
// EINVAL); EPERM runs the helper, whose exit code is the result unless it could not be started
// or waited for. The caller's SIGCHLD handler is back.
constexpr char kDeepFile[] = "/srv/mail/d/f";

hv::test::Case giving_away(const char *label, long (*run)(), const char *change) {
    const auto setup = [] {
        hv::test::write_file(kDeepFile, "x");
        g_fd = open(kDeepFile, O_RDONLY | O_CLOEXEC);
        install_helper(3);
        signal(SIGCHLD, caught);
        close(STDIN_FILENO);
    };
    return {label, setup, run, [change](long r, const Outcome &o) {
                if (ext_signal(SIGCHLD, caught) != caught) return false;
                if (!o.failed(change))
                    return hv::test::real_root() ? r == 0 && account_owns(kDeepFile) : r == EINVAL;
                return r == (o.failed("sxl_wait") ? ECHILD : o.failed("sxl_execv") ? 1 : 3);
            }};
}

const hv::test::Case kCases[] = {
    giving_away("InstalledChownToOrdavin", [] { return long{ext_ChownToOrdavin("~/d/f")}; },
                "sxl_chown"),
    giving_away("InstalledFChownToOrdavin",
                [] { return long{ext_FChownToOrdavin(g_fd, "~/d/f")}; }, "sxl_fchown"),
    // The answer is kept for good, whatever it was and whatever the list says later.
    {.label = "InstalledPlayPenAllowed",
     .setup = [] { hv::test::write_file("/opt/morvek/bin/hvpp.allow", "# everyone\n*\n"); },
     .run = [] { return long{ext_PlayPenAllowed()}; },
     .check = [](long r, const Outcome &o) {
         const bool unread = o.failed("sxl_getpwuid") || o.failed("sxl_fgets") ||
                             (o.failed("sxl_fopen") && o.mode == hv::test::Nth::kPersistent);
         hv::test::write_file("/opt/morvek/bin/hvpp.allow", r ? "" : "*\n");
         return r == (unread ? 0 : 1) && ext_PlayPenAllowed() == r;
     }},
    // The sandbox's shadow has morvek's password changed on day 19000, in week 2714.
    {.label = "InstalledIsPasswordAged",
     .setup = [] { hv::test::set_time(2715 * hv::account::kSecondsPerWeek); },
     .run = [] { return long{ext_IsPasswordAged("morvek")}; },
     .check = [](long r, const Outcome &o) {
         const bool unknown = o.failed("sxl_getpwdage") || o.failed("sxl_time");
         hv::test::set_time(2715 * hv::account::kSecondsPerWeek - 1);
         return r == (unknown ? 0 : 1) && ext_IsPasswordAged("morvek") == 0;
     }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
