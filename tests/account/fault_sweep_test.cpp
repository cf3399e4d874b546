// Every routine of the family that calls the platform layer, under every failure
// of each of its calls (tests/support/sweep.h), starting from a fresh process.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "harness.h"
#include "hv_ext.h"
#include "sweep.h"

namespace {

using hv::test::Case;
using hv::test::kMorvekGid;
using hv::test::kMorvekUid;
using hv::test::Outcome;

constexpr char kFile[] = "/srv/mail/f";
constexpr int kHelperCode = 3;
int g_fd = -1;

void on_child(int) {}

// A file of root's, the chown helper, and a SIGCHLD handler of the caller's.
void file_and_helper() {
    hv::test::write_file(kFile, "x");
    g_fd = open(kFile, O_RDONLY | O_CLOEXEC);
    hv::test::write_file("/opt/morvek/bin/hvchown", "#!/bin/sh\nexit 3\n");
    chmod("/opt/morvek/bin/hvchown", 0755);
    signal(SIGCHLD, on_child);
}

// Without a refusal the change is made (in a user namespace the account's ids are
// not mapped: EINVAL); EPERM runs the helper, whose exit code is the result unless
// it could not be started or waited for. The caller's SIGCHLD handler is back.
bool given_away(long r, const Outcome &o, const char *change) {
    struct sigaction now {};
    struct stat st {};
    if (sigaction(SIGCHLD, nullptr, &now) != 0 || now.sa_handler != on_child ||
        stat(kFile, &st) != 0)
        return false;
    if (!o.failed(change)) {
        if (!hv::test::real_root()) return r == EINVAL;
        return r == 0 && st.st_uid == kMorvekUid && st.st_gid == kMorvekGid;
    }
    if (o.failed("sxl_wait")) return r == ECHILD;
    if (o.failed("sxl_execv")) return r == 1;
    return r == kHelperCode;
}

// Set up only as root: a real group other than the account's, which is effective.
void effective_account_group() {
    if (hv::test::real_root()) setregid(0, kMorvekGid);
}

void allow_list() { hv::test::write_file("/opt/morvek/bin/hvpp.allow", "# everyone\n*\n"); }

const Case kCases[] = {
    {.label = "ChownToOrdavin",
     .setup = file_and_helper,
     .run = [] { return long{ext_ChownToOrdavin("~/f")}; },
     .check = [](long r, const Outcome &o) { return given_away(r, o, "sxl_chown"); }},
    {.label = "FChownToOrdavin",
     .setup = file_and_helper,
     .run = [] { return long{ext_FChownToOrdavin(g_fd, "~/f")}; },
     .check = [](long r, const Outcome &o) { return given_away(r, o, "sxl_fchown"); }},
    {.label = "SetRGidToOrdavin",
     .setup = effective_account_group,
     .run = [] { return long{ext_SetRGidToOrdavin()}; },
     .check = [](long r, const Outcome &o) {
         if (o.failed("sxl_setregid")) return r == EPERM && getgid() == 0;
         return r == 0 && (getgid() == kMorvekGid || !hv::test::real_root());
     }},
    // The answer is kept, whatever it was.
    {.label = "PlayPenAllowed",
     .setup = allow_list,
     .run = [] { return long{ext_PlayPenAllowed()}; },
     .check = [](long r, const Outcome &o) {
         const bool unread = o.failed("sxl_getpwuid") || o.failed("sxl_fgets") ||
                             (o.failed("sxl_fopen") && o.mode == hv::test::Nth::kPersistent);
         return r == (unread ? 0 : 1) && ext_PlayPenAllowed() == r;
     }},
    {.label = "IsPasswordAged",
     .run = [] { return long{ext_IsPasswordAged("morvek")}; },
     .check = [](long r, const Outcome &o) {
         const bool unknown = o.failed("sxl_getpwdage") || o.failed("sxl_time");
         return r == (unknown ? 0 : ext_IsPasswordAged("morvek"));
     }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
