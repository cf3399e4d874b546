// The process title, in blocks laid out as the kernel does, each sized exactly for ASan.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "hv_ext.h"

namespace {

using namespace std::string_literals;

struct Row {
    std::string block;  // strings with their terminators
    size_t args;        // how many of them are arguments
    int argc;
    unsigned room;
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.argc << " room " << row.room; }

class TitleRoom : public testing::TestWithParam<Row> {};

TEST_P(TitleRoom, TitlesShorterThanTheRoomAreWritten) {
    const Row &row = GetParam();
    std::vector<char> block(row.block.begin(), row.block.end());
    std::vector<char *> argv, env;
    for (char *p = block.data(); p < block.data() + block.size(); p += strlen(p) + 1)
        (argv.size() < row.args ? argv : env).push_back(p);
    const std::vector<std::string> variables(env.begin(), env.end());
    argv.push_back(nullptr);
    env.push_back(nullptr);
    environ = env.data();
    ext_setProcTitle("x");             // before preparation
    ext_initSetProcTitle(2, nullptr);  // nowhere to write: not even a preparation
    ext_initSetProcTitle(row.argc, argv.data());
    ext_setProcTitle(nullptr);
    ext_setProcTitle(std::string(row.room, 'T').c_str());
    EXPECT_EQ(std::string(block.begin(), block.end()), row.block) << "nothing may be written yet";
    if (row.room > 0) {
        ext_setProcTitle(std::string(row.room - 1, 'T').c_str());
        std::string expected = row.block;
        expected.replace(0, row.room, std::string(row.room - 1, 'T') + '\0');
        EXPECT_EQ(std::string(block.begin(), block.end()), expected);
    }
    // The environment reads the same, whatever the title overwrote.
    for (size_t i = 0; i < variables.size(); ++i) EXPECT_EQ(std::string(environ[i]), variables[i]);
    EXPECT_EQ(environ[variables.size()], nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TitleRoom,
    testing::Values(Row{"abcd\0ef\0"s, 2, 2, 6}, Row{"abcd\0ef\0A=1\0BB=22\0"s, 2, 2, 14},
                    Row{"abcd\0ef\0A=1\0"s, 2, 99, 9},  // a null argument ends the vector
                    Row{"abcd\0A=1\0BB=22\0"s, 1, 0, 8}, Row{"A=1\0"s, 0, 0, 0}));

}  // namespace
