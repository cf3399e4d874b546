// Every routine of the family that calls the platform layer, under every failure
// of each of its calls (tests/support/sweep.h), starting from a fresh process.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "sweep.h"

namespace {

using hv::test::Case;
using hv::test::Nth;
using hv::test::Outcome;

constexpr char kSource[] = "/srv/mail/source";
constexpr char kTarget[] = "/tmp/copy";
constexpr int kUntouched = -12345;
int g_from = -1, g_to = -1, g_error = kUntouched;

std::string contents(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Three reads' worth, so that a failure can come after bytes have moved. Every
// run starts without a target: the file system outlives the run's process.
void source() {
    hv::test::remove_path(kTarget);
    std::string bytes(20000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    hv::test::write_file(kSource, bytes);
}

void descriptors() {
    source();
    g_from = open(kSource, O_RDONLY | O_CLOEXEC);
    g_to = open(kTarget, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

void lock_file() { g_to = open(kTarget, O_RDWR | O_CREAT | O_CLOEXEC, 0600); }

// A read that fails, or a write that fails or falls short, ends the data copy.
bool copy_failed(const Outcome &o) {
    return o.failed("sxl_write") || (o.mode != Nth::kShort && o.failed("sxl_read"));
}

bool copied(long r, long failure, const Outcome &o) {
    return copy_failed(o) ? r == failure : r == 0 && contents(kTarget) == contents(kSource);
}

// ext_copy's steps in order: the first that failed decides the result and the
// error, and whether the target was created.
struct Step {
    const char *call;
    long ordinal;
    int result, error;
    bool target_made;
};
constexpr Step kCopySteps[] = {
    {"sxl_open", 1, -1, ENOENT, false},  {"sxl_fstat", 1, -1, EIO, false},
    {"sxl_open", 2, -1, ENOENT, false},  {"sxl_chown", 1, -1, EPERM, true},
    {"sxl_fstat", 2, -1, EIO, true},     {"sxl_close", 1, -1, EIO, true},
    {"sxl_close", 2, -1, EIO, true},
};

bool copy_documented(long r, const Outcome &o) {
    const bool made = access(kTarget, F_OK) == 0;
    for (const Step &step : kCopySteps) {
        if (step.call == std::string("sxl_close") && copy_failed(o))
            return r == -2 && g_error == HV_EXT_COPY_FAILED && made;
        if (o.failed(step.call, step.ordinal))
            return r == step.result && g_error == step.error && made == step.target_made;
    }
    return r == 0 && g_error == kUntouched && contents(kTarget) == contents(kSource);
}

const Case kCases[] = {
    {.label = "RawLockFile",
     .setup = lock_file,
     .run = [] { return long{ext_RawLockFile(g_to, HV_EXT_LOCK_WRITE, 0)}; },
     .check = [](long r, const Outcome &o) { return r == (o.failed() ? ENOLCK : 0); }},
    // Short of lock-table entries, a kind that does not wait is told the lock is held.
    {.label = "LockFile",
     .setup = lock_file,
     .run = [] { return long{ext_LockFile(g_to, HV_EXT_LOCK_WRITE | HV_EXT_LOCK_NOWAIT)}; },
     .check = [](long r, const Outcome &o) { return r == (o.failed() ? EAGAIN : 0); }},
    // A waiting kind retries within its time; SIGALRM's default comes back as ignore.
    {.label = "TimedLockFile",
     .setup = lock_file,
     .run = [] { return long{ext_TimedLockFile(g_to, HV_EXT_LOCK_WRITE, 2)}; },
     .check = [](long r, const Outcome &o) {
         struct sigaction now {};
         sigaction(SIGALRM, nullptr, &now);
         const bool retried_out = o.mode == Nth::kPersistent && o.failed();
         return r == (retried_out ? ENOLCK : 0) && now.sa_handler == SIG_IGN && alarm(0) == 0;
     }},
    {.label = "CopyFD2FD",
     .setup = descriptors,
     .run = [] { return long{ext_CopyFD2FD(g_from, g_to)}; },
     .check = [](long r, const Outcome &o) { return copied(r, -1, o); }},
    {.label = "MakePhysicalCopy",
     .setup = descriptors,
     .run = [] { return long{ext_MakePhysicalCopy(g_from, g_to)}; },
     .check = [](long r, const Outcome &o) {
         return o.failed("sxl_fstat") ? r == -1 : copied(r, -2, o);
     }},
    {.label = "Copy",
     .setup = source,
     .run = [] { return long{ext_copy("~/source", kTarget, &g_error)}; },
     .check = copy_documented},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
