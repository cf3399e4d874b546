// Profiling directories: a process per row, as ext_profprep acts once per process.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

struct Row {
    const char *label;
    bool on;  // the switch is set
    const char *path;
    int register_handler;
    const char *expected;        // a trailing "/" stands for "/<pid>"
    const char *file = nullptr;  // laid first, with its directories
    int mkdir_error = 0;         // of the first sxl_mkdir
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.label; }

class Profiling : public testing::TestWithParam<Row> {};

TEST_P(Profiling, WorkingDirectoryAfterTheExitHandler) {
    const Row &row = GetParam();
    hv::test::write_file("/srv/mail/sys/general.cfg", row.on ? "EXT_MULTI_PROFILING=\n" : "");
    if (row.file != nullptr) hv::test::write_file(row.file, "");
    ASSERT_EQ(chdir("/srv"), 0);
    umask(0);
    hv::test::script("sxl_mkdir", row.mkdir_error, row.mkdir_error != 0);
    ext_profprep(row.path, row.register_handler);
    ext_profprep("/b/second", 1);  // only the first call counts
    if (hv::test::calls("sxl_atexit") == 1) ext_profexit();
    const bool made = std::string_view(row.expected).ends_with('/');
    const std::string expected = row.expected + (made ? std::to_string(getpid()) : "");
    EXPECT_EQ(std::filesystem::current_path().string(), expected);
    struct stat st = {};
    EXPECT_TRUE(!made || (stat(expected.c_str(), &st) == 0 && (st.st_mode & 07777) == 0777));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Profiling,
    testing::Values(
        Row{"enabled", true, "/opt/morvek/bin/prog", 1, "/tmp/hvdebug/prog/"},
        Row{"not asked", true, "/opt/morvek/bin/prog", 0, "/srv"},
        Row{"switch absent", false, "prog", 1, "/srv"},
        Row{"no name, directories reused", true, nullptr, 1, "/tmp/hvdebug/unknown/",
            "/tmp/hvdebug/unknown/x"}));

}  // namespace
