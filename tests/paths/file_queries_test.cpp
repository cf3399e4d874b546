// File queries: existence by path, directories by one mode bit, modification
// times through tokens, and the start count cached once it is not 0.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::write_file;

constexpr char kSysdata[] = "/srv/mail/sys/sysdata";

std::string sysdata(std::size_t size, unsigned char b0 = 0, unsigned char b1 = 0) {
    std::string bytes(size, '\xee');
    if (size > 40) bytes[40] = static_cast<char>(b0);
    if (size > 41) bytes[41] = static_cast<char>(b1);
    for (std::size_t i = 42; i < 44 && i < size; ++i) bytes[i] = 0;
    return bytes;
}

TEST(FileQueries, ExistenceAndTheDirectoryBit) {
    write_file("/srv/file", "x");
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/srv/sock");
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    struct Row {
        const char *path;
        int dexists, fexists;
    } rows[] = {
        {"/srv", 1, 1},      {"/srv/file", 0, 1}, {"/srv/none", 0, 0},
        {"/srv/sock", 1, 1}, {"~/sys", 0, 0},     {"", 0, 0},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(ext_dexists(r.path), r.dexists) << r.path;
        EXPECT_EQ(ext_fexists(r.path), r.fexists) << r.path;
    }
    close(sock);
    EXPECT_EQ(ext_dexists(nullptr), 0);
    EXPECT_EQ(ext_fexists(nullptr), 0);
}

TEST(FileQueries, BlockDevicesCountAsDirectories) {
    HV_REQUIRE_REAL_ROOT();
    ASSERT_EQ(mknod("/srv/blk", S_IFBLK | 0600, makedev(7, 0)), 0);
    EXPECT_EQ(ext_dexists("/srv/blk"), 1);
}

TEST(FileQueries, TildeIsNotExpandedByTheExistenceTests) {
    ASSERT_EQ(chdir("/srv"), 0);
    EXPECT_EQ(ext_dexists("~/sys"), 0);
    ASSERT_EQ(mkdir("/srv/~", 0755), 0);
    ASSERT_EQ(mkdir("/srv/~/sys", 0755), 0);
    EXPECT_EQ(ext_dexists("~/sys"), 1);
}

TEST(FileQueries, ModificationTimeThroughTokens) {
    write_file("/srv/mail/sys/general.cfg", "A=1\n");
    const utimbuf times{1000000000, 1234567890};
    ASSERT_EQ(utime("/srv/mail/sys/general.cfg", &times), 0);
    EXPECT_EQ(ext_LastModTimeOfFile("~/sys/general.cfg"), 1234567890);
    EXPECT_EQ(ext_LastModTimeOfFile("~x"), 0);
    EXPECT_EQ(ext_LastModTimeOfFile("~/missing"), 0);
    EXPECT_EQ(ext_LastModTimeOfFile(nullptr), 0);
}

// One process per row: the count is cached for the process once it is not 0.
struct StartCount {
    const char *label;
    std::size_t size;
    unsigned char b0, b1;
    int first, after_change;
};

void PrintTo(const StartCount &row, std::ostream *os) { *os << row.label; }

class SystemStartCount : public testing::TestWithParam<StartCount> {};

int open_descriptors() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) count += fcntl(fd, F_GETFD) != -1;
    return count;
}

TEST_P(SystemStartCount, ReadOnceItIsNotZero) {
    const StartCount &c = GetParam();
    const int descriptors = open_descriptors();
    if (c.size > 0) write_file(kSysdata, sysdata(c.size, c.b0, c.b1));
    EXPECT_EQ(ext_GetSystemStartCount(), c.first);
    write_file(kSysdata, sysdata(44, 9));
    EXPECT_EQ(ext_GetSystemStartCount(), c.after_change);
    EXPECT_EQ(open_descriptors(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(
    FileQueries, SystemStartCount,
    testing::Values(StartCount{"Seven", 44, 7, 0, 7, 7},
                    StartCount{"HighByte", 44, 0x34, 0x12, 0x1234, 0x1234},
                    StartCount{"Missing", 0, 0, 0, 0, 9},
                    StartCount{"Empty", 1, 0, 0, 0, 9},
                    StartCount{"FortyBytes", 40, 0, 0, 0, 9},
                    StartCount{"FortyOneBytes", 41, 5, 0, 5, 5},
                    StartCount{"FortyThreeBytes", 43, 1, 2, 0x201, 0x201},
                    StartCount{"HoldsZero", 44, 0, 0, 0, 9}),
    [](const auto &row) { return std::string(row.param.label); });

TEST(FileQueries, StartCountClosesItsDescriptorOnEveryFailure) {
    write_file(kSysdata, sysdata(44, 7));
    hv::test::script("sxl_lseek", {.err = EIO});
    EXPECT_EQ(ext_GetSystemStartCount(), 0);
    hv::test::script("sxl_read", {.err = EIO});
    EXPECT_EQ(ext_GetSystemStartCount(), 0);
    hv::test::script("sxl_open", {.err = EMFILE});
    EXPECT_EQ(ext_GetSystemStartCount(), 0);
    EXPECT_EQ(hv::test::calls("sxl_open"), 3);
    EXPECT_EQ(hv::test::calls("sxl_close"), 2);
    EXPECT_EQ(ext_GetSystemStartCount(), 7);
}

TEST(FileQueries, FileSystemKindOfADescriptor) {
    const int fd = open("/srv", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(static_cast<unsigned>(ext_fstype(fd)), 0x01021994u);  // tmpfs
    close(fd);
    EXPECT_EQ(ext_fstype(-1), -1);
}

}  // namespace
