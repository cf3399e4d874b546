// Every routine of the family that calls the platform layer, under every failure
// of each of its calls (tests/support/sweep.h), starting from a fresh process.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "sweep.h"

namespace {

using hv::test::Case;
using hv::test::Outcome;

char g_path[HV_EXT_PATH_MAX];
int g_fd = -1;

bool path_is(const char *want) { return std::strcmp(g_path, want) == 0; }

bool exists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0;
}

// The sendmail path as the system has it; a failed existence test may pick either.
bool sendmail_is(const Outcome &o) {
    const char *lib = "/usr/lib/sendmail/x", *slib = "/usr/slib/sendmail/x";
    if (o.failed("sxl_stat")) return path_is(lib) || path_is(slib);
    return path_is(!exists("/usr/slib/sendmail") && exists("/usr/lib/sendmail") ? lib : slib);
}

const Case kCases[] = {
    {.label = "HomePath",
     .run = [] { return long{ext_GetHomePath(g_path)}; },
     .check = [](long r, const Outcome &) { return r == 1 && path_is("/srv/mail"); }},
    {.label = "UapPath",
     .setup = [] { hv::test::write_file("/opt/morvek/bin/Uredirect", "/data/uap\n"); },
     .run = [] { return long{ext_GetUAPPath(g_path)}; },
     // Whatever the first call found is kept.
     .check = [](long r, const Outcome &o) {
         const std::string first = g_path;
         const bool unread = o.failed("sxl_fopen") || o.failed("sxl_fgets");
         return r == 1 && (first == "/data/uap" || (unread && first == "/usr/UAP")) &&
                ext_GetUAPPath(g_path) == 1 && first == g_path;
     }},
    {.label = "AlternativeArea",
     .run = [] { return long{ext_SetAlternativeArea(1, "/srv")}; },
     .check = [](long r, const Outcome &o) {
         const int now = ext_GetAlternativeArea(1, g_path);
         return r == 1 ? now == 1 && path_is("/srv") : o.failed("sxl_stat") && r == 0 && now == 0;
     }},
    {.label = "SendmailToken",
     .run = [] { return long{ext_GetActualFName("/usr/lib/sendmail/x", g_path) == g_path}; },
     .check = [](long r, const Outcome &o) { return r == 1 && sendmail_is(o); }},
    {.label = "CdToHome",
     .run = [] { return long{ext_CdToHome()}; },
     .check = [](long r, const Outcome &) {
         return r == 1 && getcwd(g_path, sizeof g_path) != nullptr && path_is("/srv/mail");
     }},
    {.label = "ShortName",
     .run = [] { return long{ext_GetShortFName("/srv/mail/x", g_path)}; },
     .check = [](long r, const Outcome &) { return r == 1 && path_is("~/x"); }},
    {.label = "Dexists",
     .run = [] { return long{ext_dexists("/srv/mail")}; },
     .check = [](long r, const Outcome &o) { return r == (o.failed() ? 0 : 1); }},
    {.label = "Fexists",
     .run = [] { return long{ext_fexists("/srv/mail/sys")}; },
     .check = [](long r, const Outcome &o) { return r == (o.failed() ? 0 : 1); }},
    {.label = "LastModTime",
     .run = [] { return long(ext_LastModTimeOfFile("~/sys")); },
     .check = [](long r, const Outcome &o) {
         struct stat st;
         return stat("/srv/mail/sys", &st) == 0 &&
                r == (o.failed("sxl_stat") ? 0 : long(st.st_mtime));
     }},
    {.label = "Fstype",
     .setup = [] { g_fd = open("/srv/mail", O_RDONLY); },
     .run = [] { return long{ext_fstype(g_fd)}; },
     .check = [](long r, const Outcome &o) {
         return r == (o.failed("sxl_fstype") ? -1 : TMPFS_MAGIC);
     }},
    // A count of 0 is not kept: the next call reads the file again.
    {.label = "StartCount",
     .setup = [] {
         hv::test::write_file("/srv/mail/sys/sysdata", std::string(43, '\0').insert(40, "\7"));
     },
     .run = [] { return long{ext_GetSystemStartCount()}; },
     .check = [](long r, const Outcome &o) {
         const bool unread =
             o.failed("sxl_open") || o.failed("sxl_lseek") || o.failed("sxl_read");
         return (r == 7 || (unread && r == 0)) && ext_GetSystemStartCount() == 7;
     }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
