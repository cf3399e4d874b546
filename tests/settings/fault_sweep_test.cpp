// The customise info store under every failure of each platform call it makes
// (tests/support/sweep.h): what the lookup answers, and the state the store is
// left in, seen by the lookups that follow once the fault is gone.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "sweep.h"

namespace {

using hv::test::Case;
using hv::test::Outcome;

// Five short entries grow the table once (its first realloc); the long value grows
// the pool (its second allocation was the malloc that made it, its first realloc
// the growth).
void settings() {
    hv::test::write_file("/srv/mail/sys/general.cfg",
                         "A=1\nB=2\nC=3\nD=4\nE=5\nL=" + std::string(200, 'l') + "\n");
}

// 1 when A reads "1", 0 when it is not found.
long lookup() {
    char *value = nullptr;
    if (ext_GetCustomiseInfo("A", &value) == 0) return 0;
    return std::strcmp(value, "1") == 0 ? 1 : 2;
}

// A failed table leaves the store unloaded: the next lookup reads the file again.
// A failed pool, or a file that did not open or gave no line, is kept until freed.
bool left_as_documented(long r, const Outcome &o) {
    const bool retried = o.failed("sxl_malloc", 1) || o.failed("sxl_realloc", 1);
    const bool for_good = !retried && (o.failed("sxl_malloc", 2) || o.failed("sxl_realloc", 2) ||
                                       o.failed("sxl_fopen") || o.failed("sxl_fgets", 1));
    if (r != (retried || for_good ? 0 : 1) || lookup() != (for_good ? 0 : 1)) return false;
    ext_FreeInfo();
    return lookup() == 1;
}

const Case kCases[] = {
    {.label = "FirstLookup", .setup = settings, .run = lookup, .check = left_as_documented},
    {.label = "FreeInfo",
     .setup = [] { settings(), lookup(); },
     .run = [] { return ext_FreeInfo(), 0L; },
     .check = [](long, const Outcome &) { return lookup() == 1; }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
