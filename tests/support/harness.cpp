// The harness (harness.h), and the main of every test program.
#include "harness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

extern char **environ;

namespace hv::test {
namespace {

constinit bool g_real_root = false;
constinit char g_private_home[] = "/tmp/hv-test-XXXXXX";  // a template until made
constinit const char *g_home = nullptr;

// Root in another user namespace (ours, a rootless container) cannot act as other users.
bool in_initial_user_namespace() {
    std::string map;  // "%10u %10u %10u\n" a line
    return std::getline(std::ifstream("/proc/self/uid_map"), map, '\0') &&
           map == "         0          0 4294967295\n";
}

// The home area: the installation's in sandbox_run's namespace (returns true), else a private one.
bool set_up() {
    g_real_root = geteuid() == 0 && in_initial_user_namespace();
    const char *recorded = getenv("HV_TEST_SANDBOX");
    struct stat ns = {};
    const bool installed = recorded != nullptr && stat("/proc/self/ns/mnt", &ns) == 0 &&
                           std::to_string(ns.st_ino) == recorded;
    g_home = installed ? "/srv/mail" : mkdtemp(g_private_home);
    if (g_home == nullptr || mkdir(home("sys").c_str(), 0755) != 0 || chdir(g_home) != 0 ||
        setenv("HV_DATADIR", g_home, 1) != 0) {
        perror("hv-test: cannot set up the home area");
        exit(1);
    }
    // Site strings inherited from the caller's shell would change what tests see.
    std::vector<std::string> site;
    for (char **env = environ; *env != nullptr; ++env)
        if (strncmp(*env, "HV_SITE_", 8) == 0) site.emplace_back(*env, strcspn(*env, "="));
    for (const std::string &name : site) unsetenv(name.c_str());
    return installed;
}

void tear_down() {
    std::error_code error;
    if (g_home == g_private_home) std::filesystem::remove_all(g_home, error);
    if (error) fprintf(stderr, "hv-test: cannot remove %s: %s\n", g_home, error.message().c_str());
}

}  // namespace

std::string home(std::string_view below) {
    return below.empty() ? std::string(g_home) : g_home + ("/" + std::string(below));
}

bool real_root() { return g_real_root; }

void write_file(const std::string &path, std::string_view content) {
    std::error_code ignored;  // a directory that cannot be made fails the open below
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path << ": " << strerror(errno);
}

void remove_path(const std::string &path) {
    std::error_code error;  // none when there is nothing to remove
    std::filesystem::remove(path, error);
    if (error) ADD_FAILURE() << "cannot remove " << path << ": " << error.message();
}

}  // namespace hv::test

int main(int argc, char **argv) {
    // The "threadsafe" style re-executes the binary, leaving qemu-i386.
    GTEST_FLAG_SET(death_test_style, "fast");
    testing::InitGoogleTest(&argc, argv);
    // Listing happens at build time, where there is no root and no namespace.
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
    if (!hv::test::set_up()) {
        // On the machine itself an Installed case would rewrite the host's own files.
        const std::string filter = GTEST_FLAG_GET(filter);
        GTEST_FLAG_SET(filter,
                       filter + (filter.find('-') == filter.npos ? "-" : ":") + "*Installed*");
    }
    int status = RUN_ALL_TESTS();
    hv::test::tear_down();
    // CTest runs one case per process by name: a name that no longer matches (a renamed
    // case, an Installed case outside sandbox_run) must not pass.
    if (testing::UnitTest::GetInstance()->test_to_run_count() > 0) return status;
    fprintf(stderr, "hv-test: no test matches the filter \"%s\"\n", GTEST_FLAG_GET(filter).c_str());
    return 1;
}
