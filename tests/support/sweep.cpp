#include "sweep.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <vector>

// LeakSanitizer's, when the build has it (AddressSanitizer brings it along).
extern "C" __attribute__((weak)) int __lsan_do_recoverable_leak_check();

namespace hv::test {
namespace {

constexpr long kMaxN = 200;
constexpr int kCheckFailed = 86;
constexpr int kRunSeconds = 30;
constexpr std::size_t kStderrShown = 2000;
constexpr int kNoHomeStatus = 98;
constexpr char kNoHomeMessage[] = "[HV 28506] Which Morvek Server system?\n";

std::string run_name(const Case &c, Nth mode, long n) {
    constexpr const char *kModes[] = {"once", "persistent", "short"};
    return std::string(c.label) + " " + kModes[static_cast<int>(mode)] + " n=" + std::to_string(n);
}

// Shared by every process of a run (a routine may fork) and the sweep itself.
struct Report {
    std::atomic<bool> reached, transfer_failed;
    std::atomic<bool> home_failed;  // a process exit()ed with no home area
    std::atomic<int> completed;
    std::atomic<std::size_t> used;
    char text[16384];
};

constinit Report *g_report = nullptr;

// What this process met of the fault: run at exit by any process of the run that ends
// inside the routine (the one it was called in, or one it forked), and after the routine.
void note_fault() {
    g_report->reached = g_report->reached || nth_hit().reached;
    if (nth_failed("sxl_read") != 0 || nth_failed("sxl_write") != 0)
        g_report->transfer_failed = true;
    if (nth_failed("dtk_getDatadir") != 0) g_report->home_failed = true;
}

std::set<int> open_descriptors() {
    std::set<int> fds;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.') fds.insert(std::atoi(entry->d_name));
        fds.erase(dirfd(dir));
        closedir(dir);
    }
    return fds;
}

[[noreturn]] void child(const Case &c, Nth mode, long n, int capture) {
    dup2(capture, STDERR_FILENO);
    close(capture);
    std::atexit(note_fault);
    if (c.setup) c.setup();
    const std::set<int> before = open_descriptors();
    fail_nth(n, mode);
    const long result = c.run();
    const Outcome outcome{mode, nth_hit()};
    disarm_nth();
    note_fault();
    std::string problems;
    for (int fd : open_descriptors())
        if (before.count(fd) == 0) problems += " descriptor " + std::to_string(fd) + " left open;";
    // A short run that cut nothing short ran as the last run of another mode did.
    const bool plain = mode == Nth::kShort && !outcome.failed();
    if (!plain && __lsan_do_recoverable_leak_check && __lsan_do_recoverable_leak_check() != 0)
        problems += " heap leaked;";
    if (!c.check(result, outcome))
        problems += " result " + std::to_string(result) + " not documented;";
    if (!problems.empty()) {
        const NthHit &hit = outcome.fault;
        const std::string met = hit.call == nullptr
                                    ? "no call failed"
                                    : hit.call + (" #" + std::to_string(hit.ordinal));
        const std::string line = run_name(c, mode, n) + ", " + met + ":" + problems + "\n";
        const std::size_t at = g_report->used.fetch_add(line.size());
        if (at + line.size() <= sizeof g_report->text)
            std::memcpy(g_report->text + at, line.data(), line.size());
    }
    ++g_report->completed;
#ifdef HV_TEST_COVERAGE
    // The library writes its coverage counters from its destructors, which _exit skips.
    std::exit(problems.empty() ? 0 : kCheckFailed);
#else
    _exit(problems.empty() ? 0 : kCheckFailed);
#endif
}

// Waits for the run's processes, the one started and those the routine forked: each holds
// the write end of `alive` until it ends. What went wrong, or "".
std::string await(pid_t pid, int alive, int capture) {
    std::string trouble;
    pollfd end = {alive, POLLIN, 0};
    if (poll(&end, 1, kRunSeconds * 1000) != 1) {
        kill(pid, SIGKILL);
        trouble += " still running after " + std::to_string(kRunSeconds) + " s;";
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::string err(kStderrShown, '\0');
    err.resize(std::max<ssize_t>(0, pread(capture, err.data(), err.size(), 0)));
    // A process the routine forked may be the one it ended, its caller exiting 0.
    const bool ended = g_report->home_failed && (code == kNoHomeStatus || code == 0) &&
                       err.find(kNoHomeMessage) != std::string::npos;
    if (WIFSIGNALED(status)) trouble += " died of signal " + std::to_string(WTERMSIG(status)) + ";";
    if (code > 0 && code != kCheckFailed && !ended)
        trouble += " exited " + std::to_string(code) + ";";
    if (g_report->completed == 0 && !ended) trouble += " no process returned from the routine;";
    return trouble.empty() ? trouble : trouble + " stderr: " + err;
}

// One run; what went wrong is added to failures.
void run(const Case &c, Nth mode, long n, int capture, std::string &failures) {
    new (g_report) Report{};
    std::fflush(nullptr);
    int alive[2];
    const bool ready = ftruncate(capture, 0) == 0 && lseek(capture, 0, SEEK_SET) == 0 &&
                       pipe2(alive, O_CLOEXEC) == 0;
    const pid_t pid = ready ? fork() : -1;
    if (pid == 0) {
        close(alive[0]);
        child(c, mode, n, capture);
    }
    if (ready) close(alive[1]);
    const std::string trouble = pid < 0 ? " cannot start;" : await(pid, alive[0], capture);
    if (ready) close(alive[0]);
    if (!trouble.empty()) failures += run_name(c, mode, n) + ":" + trouble + "\n";
    failures.append(g_report->text, std::min(g_report->used.load(), sizeof g_report->text));
}

}  // namespace

bool Outcome::failed(const char *call, long ordinal) const {
    const long first = nth_failed(call);
    return first != 0 && (ordinal == 0 || first == ordinal);
}

std::string sweep(const Case &c) {
    void *shared =
        mmap(nullptr, sizeof(Report), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) return "no shared memory for the report";
    g_report = static_cast<Report *>(shared);
    const int capture = memfd_create("sweep-stderr", 0);
    std::string failures;
    // The n-th call is the same whether the fault fails it or cuts it short, so the short
    // mode needs only the n at which the once mode met a read or write.
    std::vector<long> transfers;
    for (Nth mode : {Nth::kOnce, Nth::kPersistent}) {
        bool reached = true;
        for (long n = 1; reached && n <= kMaxN; ++n) {
            run(c, mode, n, capture, failures);
            reached = g_report->reached;
            if (mode == Nth::kOnce && g_report->transfer_failed) transfers.push_back(n);
        }
        if (reached)
            failures +=
                std::string(c.label) + ": call " + std::to_string(kMaxN) + " is still made\n";
    }
    for (long n : transfers) run(c, Nth::kShort, n, capture, failures);
    close(capture);
    munmap(shared, sizeof(Report));
    return failures;
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.label; }

}  // namespace hv::test
