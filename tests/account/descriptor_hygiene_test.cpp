// Programs started by the library (the chown helper) or by its caller after the
// library has opened files start with their standard descriptors alone.

#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

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

// Whatever this process was given by whoever started it is not the library's.
void keep_inherited_descriptors_to_ourselves() {
    DIR *dir = opendir("/proc/self/fd");
    ASSERT_NE(dir, nullptr);
    while (const dirent *entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    closedir(dir);
}

void run_lister() {
    const pid_t pid = fork();
    if (pid == 0) {
        execl(kLister, kLister, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

TEST(DescriptorHygiene, ProgramsStartWithTheStandardDescriptorsAlone) {
    hv::test::write_file(kLister, "#!/bin/sh\nexec ls /proc/self/fd >" + std::string(kListing));
    ASSERT_EQ(chmod(kLister, 0755), 0);
    hv::test::write_file("/srv/mail/sys/general.cfg", "A=1\n");
    hv::test::write_file("/srv/mail/sys/TimeZoneMap", "GMT Europe/Paris\n");
    hv::test::write_file("/srv/mail/f", "x");
    keep_inherited_descriptors_to_ourselves();
    run_lister();
    ASSERT_EQ(listing(), kOnlyStandard) << "the test itself leaks descriptors";

    char *value = nullptr;
    char tzid[80];
    ASSERT_EQ(ext_GetCustomiseInfo("A", &value), 1);
    ASSERT_EQ(ext_GetTZIDFromAlias("GMT", tzid), 1);
    ext_GetSystemTimezoneName();
    ext_PlayPenAllowed();
    const int locked = open("/srv/mail/f", O_RDWR | O_CLOEXEC);
    ASSERT_EQ(ext_LockFile(locked, HV_EXT_LOCK_WRITE), 0);
    run_lister();
    EXPECT_EQ(listing(), kOnlyStandard) << "plain exec";

    hv::test::script("sxl_chown", EPERM, hv::test::kForever);
    hv::test::script("sxl_fchown", EPERM, hv::test::kForever);
    EXPECT_EQ(ext_ChownToOrdavin("~/f"), 0);
    EXPECT_EQ(listing(), kOnlyStandard) << "helper run by name";
    EXPECT_EQ(ext_FChownToOrdavin(locked, "~/f"), 0);
    EXPECT_EQ(listing(), kOnlyStandard) << "helper run for a descriptor";
    close(locked);
}

}  // namespace
