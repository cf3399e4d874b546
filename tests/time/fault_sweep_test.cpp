// Every routine of the family that calls the platform layer, under every failure
// of each of its calls (tests/support/sweep.h), starting from a fresh process.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "harness.h"
#include "hv_ext.h"
#include "sweep.h"

namespace {

using hv::test::Case;
using hv::test::Outcome;

const char *g_name = nullptr;
char g_tzid[80];

long utc_minus_local(std::time_t t) {
    struct tm local {};
    return localtime_r(&t, &local) != nullptr ? -local.tm_gmtoff : 0;
}

bool is_paris(const char *name) {
    return name != nullptr && std::strcmp(name, "Europe/Paris") == 0;
}

const Case kCases[] = {
    // A clock that cannot be read gives the offset of time -1, which is not kept.
    {.label = "TimeDiff",
     .setup = [] { setenv("TZ", "XST-2", 1); },
     .run = [] { return long{ext_TimeDiff()}; },
     .check = [](long r, const Outcome &o) {
         const long now = utc_minus_local(std::time(nullptr));
         return r == (o.failed("sxl_time") ? utc_minus_local(-1) : now) && ext_TimeDiff() == now;
     }},
    // Nothing found is nothing kept: the next call asks both sources again.
    {.label = "SystemTimezoneName",
     .setup = [] { hv::test::write_file("/etc/timezone", "Europe/Paris\n"); },
     .run = [] { return long{(g_name = ext_GetSystemTimezoneName()) != nullptr}; },
     .check = [](long, const Outcome &o) {
         const bool unread = o.failed("sxl_fopen") || o.failed("sxl_fgets");
         return (unread ? g_name == nullptr : is_paris(g_name)) &&
                is_paris(ext_GetSystemTimezoneName()) &&
                hv::test::calls("tayl_GetString") == (unread ? 2 : 1);
     }},
    {.label = "TzidFromAlias",
     .setup = [] { hv::test::write_file("/srv/mail/sys/TimeZoneMap", "GMT Europe/Paris\n"); },
     .run = [] { return long{ext_GetTZIDFromAlias("gmt", g_tzid)}; },
     .check = [](long r, const Outcome &o) {
         if (o.failed("sxl_fopen") || o.failed("sxl_fgets", 1))
             return r == 0 && std::strcmp(g_tzid, "Europe/London") == 0;
         return r == 1 && is_paris(g_tzid);
     }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
