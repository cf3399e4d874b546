// The process title. Most cases lay out a block the way the kernel does (argument
// strings, then environment strings, end to end) in a heap buffer of exactly its
// size, so that AddressSanitizer sees any write past it; one case uses the test
// program's own arguments and reads the title back from /proc/self/cmdline.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "hv_ext.h"

namespace {

// The heap's refusals, scripted: the Nth call from now fails (0: none fails).
int g_calloc_fails_at = 0;
int g_strdup_fails_at = 0;

bool refuse(int &countdown) { return countdown > 0 && --countdown == 0; }

// The program's own vectors as the kernel gave them. GoogleTest later removes its
// flags from argv and the sandbox changes the environment, so the pointers are
// copied before main runs.
std::vector<char *> *g_real_argv;
std::vector<char *> *g_real_env;

// glibc passes main's arguments to the functions of .init_array.
__attribute__((constructor)) void keep_real_vectors(int argc, char **argv, char **envp) {
    g_real_argv = new std::vector<char *>(argv, argv + argc);
    g_real_env = new std::vector<char *>(envp, envp + 1);
    while (g_real_env->back() != nullptr) g_real_env->push_back(envp[g_real_env->size()]);
}

}  // namespace

// Interposed on the C library's for the library under test (the program is linked
// -rdynamic); the real calloc is the sanitizer's when there is one.
extern "C" void *__interceptor_calloc(size_t, size_t) __attribute__((weak));
extern "C" void *__libc_calloc(size_t, size_t);

extern "C" void *calloc(size_t count, size_t size) noexcept {
    if (refuse(g_calloc_fails_at)) return nullptr;
    return __interceptor_calloc != nullptr ? __interceptor_calloc(count, size)
                                           : __libc_calloc(count, size);
}

extern "C" char *strdup(const char *text) noexcept {
    if (refuse(g_strdup_fails_at)) return nullptr;
    const size_t size = strlen(text) + 1;
    auto copy = static_cast<char *>(malloc(size));
    if (copy != nullptr) memcpy(copy, text, size);
    return copy;
}

namespace {

struct Block {
    std::vector<char> bytes;
    std::vector<char *> argv;
    std::vector<char *> env;
};

// Lays the strings out end to end; argv and env get a null terminator.
Block lay_out(const std::vector<std::string> &args, const std::vector<std::string> &env) {
    std::string all;
    for (const auto &s : args) all += s + '\0';
    for (const auto &s : env) all += s + '\0';
    Block b{std::vector<char>(all.begin(), all.end()), {}, {}};
    char *p = b.bytes.data();
    for (const auto &s : args) b.argv.push_back(std::exchange(p, p + s.size() + 1));
    for (const auto &s : env) b.env.push_back(std::exchange(p, p + s.size() + 1));
    b.argv.push_back(nullptr);
    b.env.push_back(nullptr);
    return b;
}

struct RoomCase {
    const char *label;
    std::vector<std::string> args;
    std::vector<std::string> env;
    int argc;
    unsigned room;
    std::vector<int> order = {};  // argv as getopt might have reordered it
    const char *late_variable = nullptr;  // set before the call: not in the block
};

void PrintTo(const RoomCase &c, std::ostream *os) { *os << c.label; }

class TitleRoom : public testing::TestWithParam<RoomCase> {};

TEST_P(TitleRoom, TitlesShorterThanTheRoomAreWritten) {
    const RoomCase &c = GetParam();
    Block block = lay_out(c.args, c.env);
    if (!c.order.empty()) {
        std::vector<char *> reordered;
        for (int i : c.order) reordered.push_back(block.argv[i]);
        std::copy(reordered.begin(), reordered.end(), block.argv.begin());
    }
    std::vector<char *> env = block.env;
    std::string late = c.late_variable != nullptr ? c.late_variable : "";
    if (c.late_variable != nullptr) env.insert(env.end() - 1, late.data());
    environ = env.data();

    ext_initSetProcTitle(c.argc, block.argv.data());

    // The environment now lives on the heap and reads the same.
    EXPECT_NE(environ, env.data());
    for (size_t i = 0; i + 1 < env.size(); ++i) {
        EXPECT_STREQ(environ[i], env[i]);
        EXPECT_NE(environ[i], env[i]);
    }
    EXPECT_EQ(environ[env.size() - 1], nullptr);
    if (!c.env.empty()) {
        // setenv drops the copy it replaces without freeing it (it cannot know
        // whose it is); keep it reachable for the leak checker.
        static auto *replaced = new std::vector<char *>;
        replaced->assign(environ, environ + env.size());
        ASSERT_EQ(setenv("A", "changed", 1), 0);
        EXPECT_STREQ(getenv("A"), "changed");
        EXPECT_EQ(block.bytes, lay_out(c.args, c.env).bytes) << "the old block changed";
    }

    const std::vector<char> before = block.bytes;
    ext_setProcTitle(std::string(c.room, 'T').c_str());
    EXPECT_EQ(block.bytes, before) << "a title as long as the room was written";
    if (c.room == 0) return;
    const std::string title(c.room - 1, 'T');
    ext_setProcTitle(title.c_str());
    EXPECT_EQ(std::string(block.bytes.data()), title);
    EXPECT_TRUE(std::equal(block.bytes.begin() + c.room, block.bytes.end(), before.begin() + c.room))
        << "bytes after the new terminator changed";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TitleRoom,
    testing::Values(
        RoomCase{"TwoArgumentsEmptyEnvironment", {"abcd", "ef"}, {}, 2, 6},
        RoomCase{"ArgumentsAndEnvironment", {"abcd", "ef"}, {"A=1", "BB=22"}, 2, 14},
        RoomCase{"ReorderedArguments", {"prog", "-x", "file"}, {"A=1"}, 3, 13, {0, 2, 1}},
        RoomCase{"CountBeyondTheVector", {"abcd", "ef"}, {"A=1"}, 99, 9},
        // argv[0] still starts the block, but only the environment is counted.
        RoomCase{"CountZero", {"abcd"}, {"A=1", "BB=22"}, 0, 8},
        RoomCase{"CountNegative", {"abcd", "ef"}, {"A=1"}, -3, 3},
        RoomCase{"CountZeroEmptyEnvironment", {"abcd"}, {}, 0, 0},
        // Counting the late variable would let a title run 22 bytes past the block.
        RoomCase{"VariableSetBeforeTheCall", {"abcd", "ef"}, {"A=1"}, 2, 12, {},
                 "LATE=12345678901234567890"}),
    [](const testing::TestParamInfo<RoomCase> &row) { return std::string(row.param.label); });

struct HeapCase {
    const char *label;
    int calloc_fails_at;
    int strdup_fails_at;
};

void PrintTo(const HeapCase &c, std::ostream *os) { *os << c.label; }

class HeapRefusal : public testing::TestWithParam<HeapCase> {};

TEST_P(HeapRefusal, LeavesTheEnvironmentAndNeverWritesATitle) {
    Block block = lay_out({"prog", "arg"}, {"A=1", "B=2", "C=3", "D=4"});
    environ = block.env.data();
    g_calloc_fails_at = GetParam().calloc_fails_at;
    g_strdup_fails_at = GetParam().strdup_fails_at;
    ext_initSetProcTitle(2, block.argv.data());
    g_calloc_fails_at = g_strdup_fails_at = 0;

    EXPECT_EQ(environ, block.env.data());
    EXPECT_EQ(std::vector<char *>(environ, environ + 5), block.env);
    ext_initSetProcTitle(2, block.argv.data());  // only the first call counts
    ext_setProcTitle("x");
    EXPECT_STREQ(block.argv[0], "prog");
    EXPECT_EQ(environ, block.env.data());
}

INSTANTIATE_TEST_SUITE_P(Cases, HeapRefusal,
                         testing::Values(HeapCase{"NoArray", 1, 0}, HeapCase{"NoFirstCopy", 0, 1},
                                         HeapCase{"NoThirdCopy", 0, 3}),
                         [](const testing::TestParamInfo<HeapCase> &row) {
                             return std::string(row.param.label);
                         });

TEST(ProcessTitle, NothingIsWrittenBeforePreparation) {
    Block block = lay_out({"prog", "arg"}, {"A=1"});
    environ = block.env.data();
    ext_setProcTitle("x");
    ext_initSetProcTitle(2, nullptr);  // nowhere to write: does nothing at all
    ext_setProcTitle("x");
    EXPECT_EQ(environ, block.env.data());
    EXPECT_STREQ(block.argv[0], "prog");
}

TEST(ProcessTitle, NullFirstArgumentStillMovesTheEnvironment) {
    Block block = lay_out({}, {"A=1"});
    environ = block.env.data();
    ext_initSetProcTitle(0, block.argv.data());
    EXPECT_NE(environ, block.env.data());
    EXPECT_STREQ(getenv("A"), "1");
    ext_setProcTitle("");
}

TEST(ProcessTitle, NullAndHugeTitlesChangeNothing) {
    Block block = lay_out({"abcd", "ef"}, {"A=1"});
    environ = block.env.data();
    ext_initSetProcTitle(2, block.argv.data());
    const std::vector<char> before = block.bytes;
    ext_setProcTitle(nullptr);
    ext_setProcTitle(std::string(1 << 20, 'x').c_str());
    EXPECT_EQ(block.bytes, before);
    ext_setProcTitle(block.argv[1]);  // a title taken from the block itself
    EXPECT_STREQ(block.argv[0], "ef");
}

std::string first_cmdline_string() {
    std::ifstream in("/proc/self/cmdline");
    std::string first;
    std::getline(in, first, '\0');
    return first;
}

// qemu-user answers /proc/self/cmdline from its own copy of the arguments.
bool emulated() {
    char exe[256] = {};
    const std::string task = "/proc/" + std::to_string(getpid()) + "/task/" +
                             std::to_string(getpid()) + "/exe";
    return readlink(task.c_str(), exe, sizeof exe - 1) > 0 && strstr(exe, "qemu") != nullptr;
}

TEST(ProcessTitle, ShowsInTheProcessCommandLine) {
    std::vector<char *> argv = *g_real_argv;
    size_t arguments = 0;
    for (char *arg : argv) arguments += strlen(arg) + 1;
    argv.push_back(nullptr);
    // The environment as the process found it, before the sandbox changed it.
    std::vector<char *> env = *g_real_env;
    environ = env.data();
    const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "";

    ext_initSetProcTitle(static_cast<int>(g_real_argv->size()), argv.data());
    ext_setProcTitle("hv-title");
    EXPECT_STREQ(argv[0], "hv-title");
    // A title that runs on over the old environment strings.
    const std::string long_title(arguments + 8, 'L');
    ext_setProcTitle(long_title.c_str());
    EXPECT_EQ(std::string(argv[0]), long_title);
    EXPECT_EQ(getenv("PATH") != nullptr ? getenv("PATH") : "", path);
    if (emulated()) GTEST_SKIP() << "qemu-user shows its own copy of the arguments in /proc";
    EXPECT_EQ(first_cmdline_string(), long_title);
    ext_setProcTitle("hv-title");
    EXPECT_EQ(first_cmdline_string(), "hv-title");
}

}  // namespace
