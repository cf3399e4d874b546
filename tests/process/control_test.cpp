// Process control: signals without restart, wait limits and the process title, then
// every routine of the family that calls the platform under every failure (support/sweep.h).

#include <sys/socket.h>

#include <chrono>
#include <filesystem>

#include "prelude.h"

namespace {

namespace fs = std::filesystem;
using hv::test::Outcome;
using namespace std::string_literals;

volatile sig_atomic_t g_caught = 0;
void count_signal(int) { g_caught = g_caught + 1; }

// Without restart a blocked call fails with EINTR; the handler stays after it has run.
TEST(SignalAndWait, InterruptsAndKeepsToTheLimit) {
    int sockets[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
    EXPECT_EQ(ext_signal(SIGALRM, count_signal), SIG_DFL);
    alarm(1);
    char byte;
    EXPECT_EQ(read(sockets[0], &byte, 1), -1);
    EXPECT_EQ(errno, EINTR);
    EXPECT_EQ(g_caught, 1);
    EXPECT_EQ(ext_signal(SIGALRM, SIG_IGN), count_signal);
    EXPECT_EQ(ext_signal(SIGKILL, count_signal), SIG_ERR);
    // Each gives the result, then the three flags: read, write, exception.
    auto wait_on = [](int fd, std::vector<int> flags, unsigned int usec) {
        const auto start = std::chrono::steady_clock::now();
        const int result = ext_WaitOnFd(fd, &flags[0], &flags[1], &flags[2], usec);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(result != 0 || waited >= std::chrono::microseconds(usec)) << "returned early";
        flags.insert(flags.begin(), result);
        return flags;
    };
    EXPECT_EQ(wait_on(sockets[0], {1, 0, 1}, 1500000), std::vector<int>({0, 0, 0, 0}));
    EXPECT_EQ(wait_on(sockets[0], {1, 0, 0}, 0), std::vector<int>({0, 0, 0, 0}));  // polls
    // Linux times out on a descriptor beyond its table, leaving the bits: nothing is ready.
    EXPECT_EQ(wait_on(1000, {1, 1, 1}, 0), std::vector<int>({0, 0, 0, 0}));
    // Descriptors that do not fit the sets are refused before any wait.
    EXPECT_EQ(wait_on(-1, {1, 1, 1}, 100000), std::vector<int>({-1, 1, 1, 1}));
    EXPECT_EQ(wait_on(1024, {1, 1, 1}, 100000), std::vector<int>({-1, 1, 1, 1}));
}

// The strings with their terminators, laid out as the kernel does; how many are arguments;
// argc (99: a null argument ends the vector first); the room. One process per row.
const std::tuple<std::string, size_t, int, unsigned> kTitles[] = {
    {"abcd\0ef\0"s, 2, 2, 6}, {"abcd\0ef\0A=1\0BB=22\0"s, 2, 2, 14}, {"abcd\0ef\0A=1\0"s, 2, 99, 9},
    {"abcd\0A=1\0BB=22\0"s, 1, 0, 8}, {"A=1\0"s, 0, 0, 0}};

class TitleRoom : public testing::TestWithParam<int> {};

TEST_P(TitleRoom, TitlesShorterThanTheRoomAreWritten) {
    const auto &[text, args, argc, room] = kTitles[GetParam()];
    std::vector<char> block(text.begin(), text.end());  // sized exactly, for ASan
    std::vector<char *> argv, env;
    for (char *p = block.data(); p < block.data() + block.size(); p += strlen(p) + 1)
        (argv.size() < args ? argv : env).push_back(p);
    const std::vector<std::string> variables(env.begin(), env.end());
    argv.push_back(nullptr);
    env.push_back(nullptr);
    environ = env.data();
    ext_setProcTitle("x");             // before preparation
    ext_initSetProcTitle(2, nullptr);  // nowhere to write: not even a preparation
    ext_initSetProcTitle(argc, argv.data());
    ext_initSetProcTitle(argc, argv.data());  // prepared once only
    ext_setProcTitle(nullptr);
    ext_setProcTitle(std::string(room, 'T').c_str());
    EXPECT_EQ(std::string(block.begin(), block.end()), text) << "nothing may be written yet";
    if (room > 0) {
        ext_setProcTitle(std::string(room - 1, 'T').c_str());
        EXPECT_EQ(std::string(block.begin(), block.end()),
                  std::string(room - 1, 'T') + '\0' + text.substr(room));
    }
    // The environment reads the same, whatever the title overwrote.
    EXPECT_EQ(std::vector<std::string>(environ, environ + variables.size()), variables);
    EXPECT_EQ(environ[variables.size()], nullptr);
}

INSTANTIATE_TEST_SUITE_P(Rows, TitleRoom, testing::Range(0, 5));

constexpr char kLog[] = "logs/daemon.stderr";  // in the home area
const std::string kIn = "/dev/null 0 0\n", kOut = "/dev/null 1025 0\n";
int g_fds[2] = {-1, -1};
pid_t g_caller = 0;
std::string g_others;

// In the caller: whether its only child, the daemon, leads a session of its own.
bool daemon_has_session() {
    pid_t pid = 0;
    std::ifstream("/proc/self/task/" + std::to_string(getpid()) + "/children") >> pid;
    return pid > 0 && getsid(pid) == pid;
}

// Where each descriptor leads, its access mode and append flag, its close-on-exec flag.
std::string describe(int from, int to) {
    std::string text;
    for (int fd = from; fd < to; ++fd) {
        char target[256] = {}, line[300] = "closed";
        if (readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, 255) >= 0)
            snprintf(line, sizeof line, "%s %d %d", target,
                     fcntl(fd, F_GETFL) & (O_ACCMODE | O_APPEND), fcntl(fd, F_GETFD));
        text += line + "\n"s;
    }
    return text;
}

// The caller, as it leaves the daemon, must have waited for its session through
// the pipe, or ten seconds when there was none. The daemon starts its session
// late, so that a caller that does not wait for it shows; the ten seconds move
// the stopped clock, and end once they have served their purpose.
void daemon_start(bool log, int failing_opens) {
    if (log) hv::test::write_file(kLog, "");
    hv::test::script("sxl_open", EMFILE, failing_opens);
    hv::test::before_call("sxl_setsid", [] { usleep(100000); });
    hv::test::before_call("sleep", [] {
        for (int i = 0; i < 10000 && !daemon_has_session(); ++i) usleep(1000);
    });
    hv::test::set_time(0);
    g_others = describe(3, 64);
    g_caller = getpid();
    atexit([] {
        if (getpid() != g_caller || hv::test::nth_failed("sxl_fork") != 0) return;
        const unsigned wait = hv::test::nth_failed("sxl_pipe") != 0 ? 10 : 0;
        const bool unread = hv::test::nth_failed("sxl_read") != 0;
        if (hv::test::stopped_time() != wait || !(unread || daemon_has_session())) _exit(3);
    });
}

// With standard input and output closed, the pipe takes their descriptors.
long detach_from_closed() {
    close_range(0, 1, 0);
    ext_BecomeDaemon();
    return 0;
}

// The daemon (or, when it cannot fork, the caller itself) leads a session of its
// own, its standard descriptors redirected unless a step of that failed, SIGPIPE not
// left blocked.
bool detached(const Outcome &o, const std::string &standard) {
    sigset_t blocked;
    pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
    const bool redirected = o.failed("sxl_open") || o.failed("sxl_dup") ||
                            o.failed("sxl_rawfcntl") || describe(0, 3) == standard;
    return redirected && describe(3, 64) == g_others &&
           (o.failed("sxl_setsid") || getsid(0) == getpid()) && !sigismember(&blocked, SIGPIPE);
}

// Two children that have ended, and one that runs until the run's process ends.
void two_ended_one_running() {
    int hold[2];
    if (pipe(hold) != 0) return;
    siginfo_t info;
    for (int child = 0; child < 3; ++child) {
        const pid_t pid = fork();
        if (pid == 0 && child == 2) close(hold[1]);
        if (pid == 0) _exit(child < 2 ? 0 : static_cast<int>(read(hold[0], &info, 1)));
        if (child < 2) waitid(P_PID, pid, &info, WEXITED | WNOWAIT);
    }
}

// The switch is on even without a value; the directories are open to all.
void profiling_site(bool prepared) {
    hv::test::write_file("sys/general.cfg", "EXT_MULTI_PROFILING=\n");
    umask(0);
    if (prepared) ext_profprep("/opt/morvek/bin/prog", 0);
}

// ext_profexit stops in the level above the first it cannot make.
bool entered(const char *program, const Outcome &o) {
    const std::string named = "/tmp/hvdebug/"s + program;
    const std::string levels[] = {"/tmp", "/tmp/hvdebug", named,
                                  named + "/" + std::to_string(getpid())};
    const std::string cwd = fs::current_path();
    if (o.failed()) return cwd == levels[hv::test::nth_failed("sxl_mkdir") - 1];
    return cwd == levels[3] && fs::status(".").permissions() == fs::perms::all;
}

const hv::test::Case kCases[] = {
    {.label = "BecomeDaemon",
     .setup = [] { daemon_start(false, 0); },
     .run = detach_from_closed,
     .check = [](long, const Outcome &o) { return detached(o, kIn + kOut + kOut); }},
    // Neither /dev/null opens; the log lands on 0 first and must still reach 2, not 1.
    {.label = "BecomeDaemonWithoutDevNull",
     .setup = [] { daemon_start(true, 2); },
     .run = detach_from_closed,
     .check = [](long, const Outcome &o) {
         return detached(o, "closed\nclosed\n" + hv::test::home(kLog) + " 1025 0\n");
     }},
    // Any flag that is not 0 is wanted, and each ready condition counts.
    {.label = "WaitOnFd",
     .setup = [] {
         if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_fds) == 0) send(g_fds[1], "x", 1, 0);
     },
     .run = [] {
         int readable = 7, writable = 1, exceptional = -1;
         const int r = ext_WaitOnFd(g_fds[0], &readable, &writable, &exceptional, 0);
         return r * 1000L + readable * 100 + writable * 10 + exceptional;
     },
     .check = [](long r, const Outcome &o) { return r == (o.failed() ? -1000 : 2110); }},
    // Installed for SIGCHLD, it must leave errno to the code it interrupted.
    {.label = "Reaper",
     .setup = two_ended_one_running,
     .run = [] {
         errno = EDOM;
         const long r = ext_reaper(0);
         return errno == EDOM ? r : 99L;
     },
     .check = [](long r, const Outcome &o) {
         return o.failed() ? r == -1 : r == 0 && waitpid(-1, nullptr, WNOHANG) == 0;
     }},
    // A second call changes nothing.
    {.label = "InstalledProfprep",
     .setup = [] { profiling_site(false); },
     .run = [] { return ext_profprep("/opt/morvek/bin/prog", 1), ext_profprep("/b/x", 1), 0L; },
     .check = [](long, const Outcome &o) {
         const bool unread =
             o.failed("sxl_malloc") || o.failed("sxl_fopen") || o.failed("sxl_fgets", 1);
         return hv::test::calls("sxl_atexit") == (unread ? 0 : 1);
     }},
    // Not asked to register. The first runs leave levels for later ones to reuse.
    {.label = "InstalledProfexit",
     .setup = [] { profiling_site(true); },
     .run = [] { return ext_profexit(), 0L; },
     .check = [](long, const Outcome &o) {
         return hv::test::calls("sxl_atexit") == 0 && entered("prog", o);
     }},
    {.label = "InstalledProfexitUnprepared",
     .setup = [] { profiling_site(false); },
     .run = [] { return ext_profexit(), 0L; },
     .check = [](long, const Outcome &o) { return entered("unknown", o); }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
