// The main of every test program: the tests run on what harness.h lays out.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "harness.h"

int main(int argc, char **argv) {
    // The "threadsafe" style re-executes the binary, leaving qemu-i386.
    GTEST_FLAG_SET(death_test_style, "fast");
    testing::InitGoogleTest(&argc, argv);
    // Listing happens at build time, where there is no root and no namespace.
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    if (!hv::test::set_up()) {
        // On the machine itself an Installed case would rewrite the host's own files.
        const std::string filter = GTEST_FLAG_GET(filter);
        GTEST_FLAG_SET(filter, filter + (filter.find('-') == filter.npos ? "-" : ":") +
                                   "*Installed*");
    }
    int status = RUN_ALL_TESTS();
    hv::test::tear_down();
    // CTest runs one case per process by name: a name that no longer matches (a renamed
    // case, an Installed case outside sandbox_run) must not pass.
    if (testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        fprintf(stderr, "hv-test: no test matches the filter \"%s\"\n",
                GTEST_FLAG_GET(filter).c_str());
        return 1;
    }
    return status;
}
