// Programs started while the library holds a file open, or started by the library
// (the chown helper), begin with the standard descriptors alone.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

constexpr char kListing[] = "/tmp/descriptors";
constexpr char kLister[] = "/opt/morvek/bin/hvchown";
// What ls finds open: the standard descriptors and the directory it lists.
constexpr char kOnlyStandard[] = "0\n1\n2\n3\n";

std::string listing() {
    std::ifstream in(kListing);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::remove(kListing);
    return text;
}

void run_lister() { EXPECT_EQ(std::system(kLister), 0); }

// Each routine is caught inside the call that reads the file it opened.
TEST(InstalledDescriptorHygiene, ProgramsStartWithTheStandardDescriptorsAlone) {
    hv::test::write_file(kLister, "#!/bin/sh\nexec ls /proc/self/fd >" + std::string(kListing));
    ASSERT_EQ(chmod(kLister, 0755), 0);
    hv::test::write_file("/srv/mail/sys/general.cfg", "A=1\n");
    hv::test::write_file("/srv/mail/sys/TimeZoneMap", "GMT Europe/Paris\n");
    hv::test::write_file("/etc/timezone", "Europe/Paris\n");
    hv::test::write_file("/opt/morvek/bin/hvpp.allow", "*\n");
    hv::test::write_file("/opt/morvek/bin/Uredirect", "/data/uap\n");
    hv::test::write_file("/srv/mail/sys/sysdata", std::string(44, '\1'));
    hv::test::write_file("/srv/mail/f", "x");
    // Whatever this process was given by whoever started it is not the library's.
    ASSERT_EQ(close_range(3, ~0U, CLOSE_RANGE_CLOEXEC), 0);
    run_lister();
    ASSERT_EQ(listing(), kOnlyStandard) << "the test itself leaks descriptors";

    const std::tuple<const char *, const char *, void (*)()> rows[] = {
        {"settings", "sxl_fgets", [] { char *v; ext_GetCustomiseInfo("A", &v); }},
        {"zone map", "sxl_fgets", [] { char tzid[80]; ext_GetTZIDFromAlias("GMT", tzid); }},
        {"system zone", "sxl_fgets", [] { ext_GetSystemTimezoneName(); }},
        {"play pen", "sxl_fgets", [] { ext_PlayPenAllowed(); }},
        {"uap area", "sxl_fgets", [] { char path[HV_EXT_PATH_MAX]; ext_GetUAPPath(path); }},
        {"start count", "sxl_read", [] { ext_GetSystemStartCount(); }},
        {"copy", "sxl_write", [] { ext_copy("~/f", "/tmp/copy", nullptr); }},
    };
    for (const auto &[label, call, routine] : rows) {
        hv::test::before_call(call, run_lister);
        routine();
        hv::test::before_call(call, nullptr);
        EXPECT_EQ(listing(), kOnlyStandard) << label;
    }

    const int fd = open("/srv/mail/f", O_RDWR | O_CLOEXEC);
    hv::test::script("sxl_chown", EPERM, hv::test::kForever);
    hv::test::script("sxl_fchown", EPERM, hv::test::kForever);
    EXPECT_EQ(ext_ChownToOrdavin("~/f"), 0);
    EXPECT_EQ(listing(), kOnlyStandard) << "helper run by name";
    EXPECT_EQ(ext_FChownToOrdavin(fd, "~/f"), 0);
    EXPECT_EQ(listing(), kOnlyStandard) << "helper run for a descriptor";
    close(fd);
}

}  // namespace
