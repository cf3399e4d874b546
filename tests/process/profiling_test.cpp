// Profiling directories. Exit handlers run at exit, so each case runs in a forked
// child that registers a reporter of its own before calling ext_profprep: handlers
// run in reverse order, so the reporter sees the working directory ext_profexit
// left behind.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::Fault;

constexpr char kSettings[] = "/srv/mail/sys/general.cfg";
constexpr char kStart[] = "/srv";

int g_report_fd = -1;

void report_at_exit() {
    char cwd[PATH_MAX] = {};
    std::string text = getcwd(cwd, sizeof cwd) != nullptr ? cwd : "(none)";
    text += " " + std::to_string(hv::test::calls("sxl_atexit"));
    if (write(g_report_fd, text.data(), text.size()) < 0) _exit(3);
}

struct ProfCase {
    const char *label;
    const char *settings;  // null: no settings file
    std::vector<std::pair<const char *, int>> calls;
    const char *expected;  // "<pid>" stands for the child's process id
    const char *fault_call = nullptr;
    Fault fault = {};
    const char *file_in_the_way = nullptr;
    const char *existing_dir = nullptr;
};

void PrintTo(const ProfCase &c, std::ostream *os) { *os << c.label; }

struct Outcome {
    pid_t pid;
    std::string cwd;
    long registrations;
};

Outcome run_child(const ProfCase &c) {
    int report[2];
    EXPECT_EQ(pipe(report), 0);
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        g_report_fd = report[1];
        if (chdir(kStart) != 0) _exit(4);
        umask(0);
        atexit(report_at_exit);
        if (c.fault_call != nullptr) hv::test::script(c.fault_call, c.fault);
        for (const auto &[path, register_handler] : c.calls) ext_profprep(path, register_handler);
        exit(0);
    }
    close(report[1]);
    Outcome out{pid, {}, -1};
    std::string text;
    char buf[512];
    for (ssize_t n; (n = read(report[0], buf, sizeof buf)) > 0;) text.append(buf, n);
    close(report[0]);
    int status = -1;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
    std::istringstream(text) >> out.cwd >> out.registrations;
    return out;
}

std::string expand(const char *expected, pid_t pid) {
    std::string path = expected;
    if (const size_t at = path.find("<pid>"); at != std::string::npos)
        path.replace(at, 5, std::to_string(pid));
    return path;
}

mode_t mode_of(const std::string &path) {
    struct stat st = {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class ProfilingDirectories : public testing::TestWithParam<ProfCase> {};

TEST_P(ProfilingDirectories, WorkingDirectoryAtExit) {
    const ProfCase &c = GetParam();
    if (c.settings != nullptr) hv::test::write_file(kSettings, c.settings);
    if (c.file_in_the_way != nullptr) hv::test::write_file(c.file_in_the_way, "");
    if (c.existing_dir != nullptr) {
        ASSERT_EQ(mkdir(c.existing_dir, 0755), 0);
    }

    const Outcome out = run_child(c);
    const std::string expected = expand(c.expected, out.pid);
    EXPECT_EQ(out.cwd, expected);
    const bool registered = expected != kStart;
    EXPECT_EQ(out.registrations, registered ? 1 : 0);
    if (expected.find(std::to_string(out.pid)) != std::string::npos) {
        EXPECT_EQ(mode_of(expected), 0777u) << "made with mode 0777 under umask 0";
    }
}

const char kEnabled[] = "EXT_MULTI_PROFILING=\n";
const std::string kLongPath = "/opt/" + std::string(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfilingDirectories,
    testing::Values(
        ProfCase{"Enabled", kEnabled, {{"/opt/morvek/bin/prog", 1}}, "/tmp/hvdebug/prog/<pid>"},
        ProfCase{"NotAsked", kEnabled, {{"/opt/morvek/bin/prog", 0}}, kStart},
        ProfCase{"SwitchAbsent", "EXT_MULTI_PROFILINGX=1\nOTHER=1\n", {{"prog", 1}}, kStart},
        ProfCase{"NoSettingsFile", nullptr, {{"prog", 1}}, kStart},
        ProfCase{"PlainName", "EXT_MULTI_PROFILING=yes\n", {{"prog", 1}}, "/tmp/hvdebug/prog/<pid>"},
        ProfCase{"NullPath", kEnabled, {{nullptr, 1}}, "/tmp/hvdebug/unknown/<pid>"},
        ProfCase{"NameTooLongForADirectory", kEnabled, {{kLongPath.c_str(), 1}}, "/tmp/hvdebug"},
        ProfCase{"SecondCallCannotRegister", kEnabled, {{"/a/first", 0}, {"/b/second", 1}}, kStart},
        ProfCase{"SecondCallKeepsTheName", kEnabled, {{"/a/first", 1}, {"/b/second", 1}},
                 "/tmp/hvdebug/first/<pid>"},
        ProfCase{"TopLevelRefused", kEnabled, {{"prog", 1}}, "/tmp", "sxl_mkdir", {.err = EACCES}},
        ProfCase{"ProgramLevelRefused", kEnabled, {{"prog", 1}}, "/tmp/hvdebug", "sxl_mkdir",
                 {.skip = 1, .err = ENOSPC}},
        ProfCase{"FileInTheWay", kEnabled, {{"prog", 1}}, "/tmp", nullptr, {}, "/tmp/hvdebug"},
        // Only EEXIST is tolerated, even when the directory is there.
        ProfCase{"RefusedThoughItExists", kEnabled, {{"prog", 1}}, "/tmp", "sxl_mkdir",
                 {.err = EACCES}, nullptr, "/tmp/hvdebug"}),
    [](const testing::TestParamInfo<ProfCase> &row) { return std::string(row.param.label); });

TEST(ProfilingDirectories, ProcessesShareTheProgramDirectory) {
    hv::test::write_file(kSettings, kEnabled);
    ASSERT_EQ(mkdir("/tmp/hvdebug", 0700), 0);
    ASSERT_EQ(mkdir("/tmp/hvdebug/prog", 0700), 0);
    const ProfCase c{"Twice", kEnabled, {{"/opt/morvek/bin/prog", 1}}, "/tmp/hvdebug/prog/<pid>"};
    const Outcome first = run_child(c);
    const Outcome second = run_child(c);
    EXPECT_EQ(first.cwd, expand(c.expected, first.pid));
    EXPECT_EQ(second.cwd, expand(c.expected, second.pid));
    EXPECT_EQ(mode_of(expand(c.expected, first.pid)), 0777u);
    EXPECT_EQ(mode_of("/tmp/hvdebug/prog"), 0700u) << "an existing directory is used unchanged";
}

TEST(ProfilingDirectories, DirectCallWithoutPreparationUsesUnknown) {
    ext_profexit();
    char cwd[PATH_MAX] = {};
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), "/tmp/hvdebug/unknown/" + std::to_string(getpid()));
}

}  // namespace
