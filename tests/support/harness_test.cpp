// The installation that the shared main lays out is the one harness.h promises.
#include "harness.h"

#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <pwd.h>
#include <grp.h>
#include <sys/types.h>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace hv::test {
namespace {

constexpr long kTmpfsMagic = 0x01021994;

bool is_dir(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool on_tmpfs(const char *path) {
    struct statfs fs;
    return statfs(path, &fs) == 0 && static_cast<long>(fs.f_type) == kTmpfsMagic;
}

TEST(Sandbox, FreshAreasAreTmpfs) {
    for (const char *dir : {"/opt", "/srv", "/tmp", "/etc"}) {
        EXPECT_TRUE(on_tmpfs(dir)) << dir;
    }
    EXPECT_TRUE(is_dir("/opt/morvek/bin"));
    EXPECT_TRUE(is_dir("/srv/mail/sys"));
    char self[4096];
    ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(len, 0);
    self[len] = '\0';
    EXPECT_EQ(access(self, X_OK), 0) << "the build tree is hidden: " << self;
    const char *datadir = getenv("HV_DATADIR");
    ASSERT_NE(datadir, nullptr);
    EXPECT_STREQ(datadir, kHome);
}

TEST(Sandbox, EtcHoldsTheMorvekAccount) {
    struct passwd *pw = getpwnam("morvek");
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(pw->pw_uid, kMorvekUid);
    EXPECT_EQ(pw->pw_gid, kMorvekGid);
    EXPECT_STREQ(pw->pw_dir, kHome);
    struct group *gr = getgrgid(kMorvekGid);
    ASSERT_NE(gr, nullptr);
    EXPECT_STREQ(gr->gr_name, "morvek");
    EXPECT_NE(getpwnam("root"), nullptr) << "the copy lost the host's accounts";
}

TEST(Sandbox, FixedFilesAreWritable) {
    write_file("/etc/timezone", "Europe/Berlin\n");
    EXPECT_EQ(access("/etc/timezone", W_OK), 0);
    write_file("/opt/morvek/bin/a/b/Uredirect", "/data/uap\n");
    EXPECT_TRUE(is_dir("/opt/morvek/bin/a/b"));
    remove_path("/opt/morvek/bin/a/b/Uredirect");
    remove_path("/opt/morvek/bin/a/b");
    remove_path("/opt/morvek/bin/a/missing");
    EXPECT_FALSE(is_dir("/opt/morvek/bin/a/b"));
}

TEST(Sandbox, UsrIsWritableOnlyAsRealRoot) {
    EXPECT_EQ(usr_writable(), real_root());
    HV_REQUIRE_WRITABLE_USR();
    EXPECT_TRUE(is_dir("/usr/morvek/bin"));
    write_file("/usr/slib/sendmail", "");
    EXPECT_EQ(access("/usr/slib/sendmail", F_OK), 0);
}

TEST(Sandbox, ChildrenCanDropToTheMorvekAccount) {
    HV_REQUIRE_REAL_ROOT();
    EXPECT_EXIT(
        {
            if (setgroups(0, nullptr) != 0 || setgid(kMorvekGid) != 0 ||
                setuid(kMorvekUid) != 0)
                _exit(1);
            _exit(getuid() == kMorvekUid && access("/etc/shadow", R_OK) != 0 ? 42 : 2);
        },
        testing::ExitedWithCode(42), "");
}

}  // namespace
}  // namespace hv::test
