// The customise info store: how its pool grows, that the file is read once per load,
// and the NUL bytes that the settings fuzz target never probes past.

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::calls;

// The pool grows by 128 bytes, or by a string's length and 2 for one of 127 or more,
// whenever used + length + 1 would reach its capacity.
TEST(Store, LoadsAllocateByTheGrowthRules) {
    const std::string v124 = "k=" + std::string(124, 'v') + "\n";
    const std::tuple<std::string, long, long> rows[] = {
        {"k=" + std::string(123, 'v') + "\n", 2, 0},  // 1 + 2 + 124 < 128
        {v124, 2, 1},                                  // exactly filling the pool grows it
        {std::string(200, 'k') + "=\n" + v124, 2, 2},  // a first string of 200: 202 bytes
        {std::string(127, 'k') + "=\n" + v124, 2, 2}};  // 129 bytes, then 257
    for (const auto &[content, mallocs, reallocs] : rows) {
        hv::test::write_file("/srv/mail/sys/general.cfg", content);
        const long malloc_before = calls("sxl_malloc"), realloc_before = calls("sxl_realloc");
        char *value = nullptr;
        EXPECT_EQ(ext_GetCustomiseInfo("k", &value), 1);
        EXPECT_EQ(ext_GetCustomiseInfo("k", &value), 1);
        EXPECT_EQ(calls("sxl_malloc") - malloc_before, mallocs) << content.size();
        EXPECT_EQ(calls("sxl_realloc") - realloc_before, reallocs) << content.size();
        ext_FreeInfo();
    }
    EXPECT_EQ(calls("sxl_fopen"), 4);
}

// A NUL ends what one read brought: the rest of that line is no setting.
TEST(Store, ANulEndsItsLine) {
    hv::test::write_file("/srv/mail/sys/general.cfg", std::string("N=1\0M=2\n\0O=3\n", 13));
    char *value = nullptr;
    EXPECT_EQ(ext_GetCustomiseInfo("M", &value), 0);
    EXPECT_EQ(ext_GetCustomiseInfo("O", &value), 0);
    EXPECT_EQ(ext_GetCustomiseInfo("N", &value), 1);
}

}  // namespace
