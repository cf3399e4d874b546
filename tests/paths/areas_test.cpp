// The installation areas: looked up once, kept for the process, and the process
// ended with the one message when the installation cannot be identified.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::calls;
using hv::test::write_file;

constexpr char kWhichSystem[] = "[HV 28506] Which Morvek Server system?\n";

std::string home() {
    char buf[HV_EXT_PATH_MAX];
    EXPECT_EQ(ext_GetHomePath(buf), 1);
    return buf;
}

std::string uap() {
    char buf[HV_EXT_PATH_MAX];
    EXPECT_EQ(ext_GetUAPPath(buf), 1);
    return buf;
}

TEST(HomeArea, AskedOnceThenServedFromTheCache) {
    setenv("HV_DATADIR", "/srv/mail", 1);
    EXPECT_EQ(home(), "/srv/mail");
    setenv("HV_DATADIR", "/elsewhere", 1);
    EXPECT_EQ(home(), "/srv/mail");
    EXPECT_EQ(calls("dtk_getDatadir"), 1);
}

TEST(HomeArea, EmptyAnswerIsNotCached) {
    setenv("HV_DATADIR", "", 1);
    EXPECT_EQ(home(), "");
    setenv("HV_DATADIR", "/srv/mail", 1);
    EXPECT_EQ(home(), "/srv/mail");
    EXPECT_EQ(calls("dtk_getDatadir"), 2);
}

TEST(HomeArea, LongestPathThatFitsIsKept) {
    const std::string longest = "/" + std::string(254, 'h');
    setenv("HV_DATADIR", longest.c_str(), 1);
    EXPECT_EQ(home(), longest);
}

TEST(HomeAreaDeathTest, UnidentifiedInstallationEndsTheProcessWith98) {
    const std::string too_long = "/" + std::string(255, 'h');
    for (const char *datadir : {static_cast<const char *>(nullptr), too_long.c_str()}) {
        if (datadir) {
            setenv("HV_DATADIR", datadir, 1);
        } else {
            unsetenv("HV_DATADIR");
        }
        char buf[HV_EXT_PATH_MAX];
        EXPECT_EXIT(ext_GetHomePath(buf), testing::ExitedWithCode(98),
                    testing::Eq(std::string(kWhichSystem)));
        EXPECT_EXIT(ext_GetActualFName("~/sys/general.cfg", buf),
                    testing::ExitedWithCode(98), testing::Eq(std::string(kWhichSystem)));
    }
}

TEST(HomeArea, ReportWritesExactlyTheMessage) {
    testing::internal::CaptureStderr();
    ext_ReportWhichHvSystem();
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written.size(), 39u);
    EXPECT_EQ(written, kWhichSystem);
}

TEST(HomeArea, CdToHomeChangesTheWorkingDirectoryOrNothing) {
    ASSERT_EQ(chdir("/"), 0);
    setenv("HV_DATADIR", "/srv/missing", 1);
    errno = 0;
    EXPECT_EQ(ext_CdToHome(), 0);
    EXPECT_EQ(errno, ENOENT);
    char cwd[HV_EXT_PATH_MAX];
    EXPECT_STREQ(getcwd(cwd, sizeof cwd), "/");
}

TEST(HomeArea, CdToHomeEntersTheHomeArea) {
    EXPECT_EQ(ext_CdToHome(), 1);
    char cwd[HV_EXT_PATH_MAX];
    EXPECT_STREQ(getcwd(cwd, sizeof cwd), hv::test::kHome);
}

// One process per row: the UAP area is read once per process.
struct Redirect {
    const char *label;
    const char *first;   // content of /opt/morvek/bin/Uredirect, null: absent
    const char *second;  // content of /usr/morvek/bin/Uredirect, null: absent
    const char *expected;
    long opens;          // files opened to find it
};

void PrintTo(const Redirect &row, std::ostream *os) { *os << row.label; }

class UapArea : public testing::TestWithParam<Redirect> {};

TEST_P(UapArea, FirstLineOfTheFirstRedirectThatGivesOne) {
    const Redirect &r = GetParam();
    if (r.second != nullptr) {
        HV_REQUIRE_WRITABLE_USR();
    }
    if (r.first) write_file("/opt/morvek/bin/Uredirect", r.first);
    if (r.second) write_file("/usr/morvek/bin/Uredirect", r.second);
    EXPECT_EQ(uap(), r.expected);
    write_file("/opt/morvek/bin/Uredirect", "/changed\n");
    EXPECT_EQ(uap(), r.expected);
    EXPECT_EQ(calls("sxl_fopen"), r.opens);
}

const std::string kLongLine(300, 'u');

INSTANTIATE_TEST_SUITE_P(
    Areas, UapArea,
    testing::Values(
        Redirect{"FirstFile", "/data/uap\n/other\n", "/x/uap\n", "/data/uap", 1},
        Redirect{"EmptyFirstLine", "\n/data/uap\n", "/x/uap\n", "/x/uap", 2},
        Redirect{"EmptyFirstFile", "", "/x/uap", "/x/uap", 2},
        Redirect{"NoFile", nullptr, nullptr, "/usr/UAP", 2},
        Redirect{"CarriageReturnKept", "/data/uap\r\n", nullptr, "/data/uap\r", 1},
        Redirect{"BlanksKept", " /data/uap \t", nullptr, " /data/uap \t", 1},
        Redirect{"LongLineCut", kLongLine.c_str(), nullptr, kLongLine.c_str() + 45, 1}),
    [](const auto &row) { return std::string(row.param.label); });

}  // namespace
