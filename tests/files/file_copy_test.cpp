// File copies: bytes, permission bits and owner of named files; the error
// out-parameter, descriptors and targets on every way a copy can fail.

#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::Fault;
using hv::test::write_file;

constexpr char kSource[] = "/srv/mail/source";
constexpr char kTarget[] = "/tmp/copy";
constexpr int kUntouched = -12345;
constexpr long kAbsent = -1;
constexpr long kAnySize = -2;

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}

std::string contents(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

long size_of(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : kAbsent;
}

int open_descriptors() {
    int count = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (dir != nullptr && readdir(dir) != nullptr) ++count;
    if (dir != nullptr) closedir(dir);
    return count;
}

long delta(const char *call, long before) { return hv::test::calls(call) - before; }

TEST(Copy, CopiesBytesModeAndOwnerInWholeChunks) {
    umask(022);
    const struct {
        std::size_t size;
        mode_t mode, expected_mode;
        long reads, writes;
    } rows[] = {
        {0, 0640, 0640, 1, 0},    {1, 0600, 0600, 2, 1},     {8191, 0666, 0644, 2, 1},
        {8192, 0755, 0755, 2, 1}, {8193, 0604, 0604, 3, 2}, {20000, 0640, 0640, 4, 3},
    };
    for (const auto &row : rows) {
        write_file(kSource, pattern(row.size));
        ASSERT_EQ(chmod(kSource, row.mode), 0);
        // As root the copy must give the target away; in a user namespace only our
        // own ids exist.
        if (hv::test::real_root()) {
            ASSERT_EQ(chown(kSource, hv::test::kMorvekUid, hv::test::kMorvekGid), 0);
        }
        hv::test::remove_path(kTarget);
        const long reads = hv::test::calls("sxl_read"), writes = hv::test::calls("sxl_write");
        const long reserved = hv::test::calls("sxl_prealloc");
        int error = kUntouched;
        EXPECT_EQ(ext_copy("~/source", kTarget, &error), 0) << row.size;
        EXPECT_EQ(error, kUntouched);
        EXPECT_EQ(contents(kTarget), pattern(row.size)) << row.size;
        struct stat from, to;
        ASSERT_EQ(stat(kSource, &from), 0);
        ASSERT_EQ(stat(kTarget, &to), 0);
        EXPECT_EQ(to.st_mode & 07777, row.expected_mode) << row.size;
        EXPECT_EQ(to.st_uid, from.st_uid);
        EXPECT_EQ(to.st_gid, from.st_gid);
        EXPECT_EQ(delta("sxl_read", reads), row.reads) << row.size;
        EXPECT_EQ(delta("sxl_write", writes), row.writes) << row.size;
        EXPECT_EQ(delta("sxl_prealloc", reserved), 1);
    }
}

TEST(Copy, AnExistingTargetKeepsItsBitsAndIsNotTruncated) {
    write_file(kSource, "0123456789");
    write_file(kTarget, "abcdefghijklmnopqrstuvwxyz");
    ASSERT_EQ(chmod(kTarget, 0600), 0);
    int error = kUntouched;
    EXPECT_EQ(ext_copy(kSource, kTarget, &error), 0);
    EXPECT_EQ(contents(kTarget), "0123456789klmnopqrstuvwxyz");
    struct stat st;
    ASSERT_EQ(stat(kTarget, &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// Every failure, once with an error out-parameter and once without: the result,
// the error, what became of the target, and no descriptor left open.
TEST(Copy, FailuresReportTheirErrorAndLeakNoDescriptor) {
    const std::string long_name(300, 'n');
    const struct {
        const char *label;
        const char *from, *to;
        const char *call;  // scripted to fail, or null
        Fault fault;
        int result, error;
        long target_size;
    } rows[] = {
        {"missing source", "~/none", kTarget, nullptr, {}, -1, ENOENT, kAbsent},
        {"unresolvable source", "~nobody/x", kTarget, nullptr, {}, -1, ENOENT, kAbsent},
        {"unresolvable target", "~/source", "~UAPX/copy", nullptr, {}, -1, ENOENT, kAbsent},
        {"name too long", long_name.c_str(), kTarget, nullptr, {}, -1, ENAMETOOLONG, kAbsent},
        {"null source", nullptr, kTarget, nullptr, {}, -1, EINVAL, kAbsent},
        {"null target", "~/source", nullptr, nullptr, {}, -1, EINVAL, kAbsent},
        {"missing directory", "~/source", "/tmp/none/copy", nullptr, {}, -1, ENOENT, kAbsent},
        {"directory source", "~/sys", kTarget, nullptr, {}, -2, 820, kAnySize},
        {"source not examined", "~/source", kTarget, "sxl_fstat", {.err = EIO}, -1, EIO,
         kAbsent},
        {"target not opened", "~/source", kTarget, "sxl_open", {.skip = 1, .err = EMFILE}, -1,
         EMFILE, kAbsent},
        {"owner refused", "~/source", kTarget, "sxl_chown", {.err = EPERM}, -1, EPERM, 0},
        {"source not examined again", "~/source", kTarget, "sxl_fstat", {.skip = 1, .err = EIO},
         -1, EIO, 0},
        // The room is reserved before the first byte: the target has the full size.
        {"first write fails", "~/source", kTarget, "sxl_write", {.err = ENOSPC}, -2, 820, 10000},
        {"short write", "~/source", kTarget, "sxl_write", {.short_count = 100}, -2, 820, 10000},
        {"later read fails", "~/source", kTarget, "sxl_read", {.skip = 1, .err = EIO}, -2, 820,
         10000},
        {"source close fails", "~/source", kTarget, "sxl_close", {.err = EIO}, -1, EIO, 10000},
        {"target close fails", "~/source", kTarget, "sxl_close", {.skip = 1, .err = EIO}, -1,
         EIO, 10000},
    };
    write_file(kSource, pattern(10000));
    for (const auto &row : rows) {
        for (bool with_error : {true, false}) {
            hv::test::remove_path(kTarget);
            if (row.call != nullptr) hv::test::script(row.call, row.fault);
            const int descriptors = open_descriptors();
            int error = kUntouched;
            EXPECT_EQ(ext_copy(row.from, row.to, with_error ? &error : nullptr), row.result)
                << row.label;
            EXPECT_EQ(error, with_error ? row.error : kUntouched) << row.label;
            EXPECT_EQ(open_descriptors(), descriptors) << row.label;
            if (row.target_size == kAnySize) {
                EXPECT_NE(size_of(kTarget), kAbsent) << row.label;
            } else {
                EXPECT_EQ(size_of(kTarget), row.target_size) << row.label;
            }
            hv::test::clear_faults();
        }
    }
}

TEST(Copy, AFullDiskFailsTheDataCopy) {
    ASSERT_EQ(mkdir("/srv/small", 0755), 0);
    ASSERT_EQ(mount("tmpfs", "/srv/small", "tmpfs", 0, "size=16k"), 0) << strerror(errno);
    write_file(kSource, pattern(64 * 1024));
    const int descriptors = open_descriptors();
    int error = kUntouched;
    EXPECT_EQ(ext_copy(kSource, "/srv/small/copy", &error), -2);
    EXPECT_EQ(error, HV_EXT_COPY_FAILED);
    EXPECT_EQ(open_descriptors(), descriptors);
    EXPECT_NE(size_of("/srv/small/copy"), kAbsent);
}

TEST(Copy, AnotherUsersFileCannotBeGivenAwayWithoutPrivilege) {
    HV_REQUIRE_REAL_ROOT();
    hv::test::remove_path(kSource);
    hv::test::remove_path(kTarget);
    write_file(kSource, "root's");
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(hv::test::kMorvekGid) != 0 || setuid(hv::test::kMorvekUid) != 0) _exit(2);
        int error = kUntouched;
        const int result = ext_copy(kSource, kTarget, &error);
        _exit(result == -1 && error == EPERM && size_of(kTarget) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The descriptor routines work from each descriptor's offset and close nothing.
TEST(Copy, DescriptorCopiesStartAtTheOffsetsAndCloseNothing) {
    write_file(kSource, "0123456789");
    write_file(kTarget, "abcdef");
    const int from = open(kSource, O_RDONLY), to = open(kTarget, O_RDWR);
    const int read_only = open(kTarget, O_RDONLY);
    ASSERT_EQ(lseek(from, 3, SEEK_SET), 3);
    ASSERT_EQ(lseek(to, 2, SEEK_SET), 2);
    EXPECT_EQ(ext_CopyFD2FD(from, to), 0);
    EXPECT_EQ(contents(kTarget), "ab3456789");
    EXPECT_NE(fcntl(from, F_GETFD), -1);
    EXPECT_NE(fcntl(to, F_GETFD), -1);

    const struct {
        const char *label;
        int from, to, copy, physical;
    } rows[] = {
        {"unreadable source", -1, to, -1, -1},
        {"unwritable target", from, read_only, -1, -2},
        {"no target", from, -1, -1, -2},
        {"both open", from, to, 0, 0},
    };
    for (const auto &row : rows) {
        lseek(from, 0, SEEK_SET);
        EXPECT_EQ(ext_CopyFD2FD(row.from, row.to), row.copy) << row.label;
        lseek(from, 0, SEEK_SET);
        EXPECT_EQ(ext_MakePhysicalCopy(row.from, row.to), row.physical) << row.label;
    }
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    ASSERT_EQ(write(pipe_fds[1], "piped", 5), 5);
    close(pipe_fds[1]);
    ASSERT_EQ(ftruncate(to, 0), 0);
    ASSERT_EQ(lseek(to, 0, SEEK_SET), 0);
    EXPECT_EQ(ext_MakePhysicalCopy(pipe_fds[0], to), 0);
    EXPECT_EQ(contents(kTarget), "piped");
    for (int fd : {from, to, read_only, pipe_fds[0]}) close(fd);
}

}  // namespace
