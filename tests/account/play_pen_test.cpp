// The play-pen access list: read once per process, so one process per row. The
// test process's user is given the row's login name in the sandbox's /etc/passwd.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::calls;

constexpr char kList[] = "/opt/morvek/bin/hvpp.allow";

// getpwuid takes the first entry with the uid: a line put first names our user.
void name_real_user(const std::string &login) {
    std::ifstream in("/etc/passwd");
    std::stringstream rest;
    rest << in.rdbuf();
    hv::test::write_file("/etc/passwd", login + ":x:" + std::to_string(getuid()) + ":" +
                                            std::to_string(getgid()) + "::/:/bin/sh\n" +
                                            rest.str());
}

struct ListCase {
    const char *label;
    const char *list;  // null: no list
    const char *login;
    int allowed;
};

void PrintTo(const ListCase &row, std::ostream *os) { *os << row.label; }

class PlayPen : public testing::TestWithParam<ListCase> {};

TEST_P(PlayPen, FirstWordOfALineAllowsItsUserOrEveryone) {
    const ListCase &c = GetParam();
    name_real_user(c.login);
    if (c.list != nullptr) hv::test::write_file(kList, c.list);
    EXPECT_EQ(ext_PlayPenAllowed(), c.allowed);

    hv::test::write_file(kList, c.allowed ? "" : "*\n");
    EXPECT_EQ(ext_PlayPenAllowed(), c.allowed);
    EXPECT_EQ(calls("sxl_fopen"), c.list != nullptr ? 1 : 2);
    EXPECT_EQ(calls("sxl_fclose"), c.list != nullptr ? 1 : 0);
}

const std::string kSplitWord = std::string(79, 'x') + " alice\n";  // pieces end "...x a", "lice"
const std::string kLongFirst = std::string(81, 'x') + "bob\n";
const std::string kLongComment = std::string(81, 'x') + " # alice\n";

INSTANTIATE_TEST_SUITE_P(
    Lists, PlayPen,
    testing::Values(
        ListCase{"EveryoneAfterAComment", "# everyone\n*\n", "alice", 1},
        ListCase{"FirstWordNamesTheUser", "  alice   extra words\n", "alice", 1},
        ListCase{"LaterWordsAreIgnored", "  alice   extra words\n", "extra", 0},
        ListCase{"StarWithMoreIsAName", "*x\n", "alice", 0},
        ListCase{"StarWithMoreAllowsThatName", "*x\n", "*x", 1},
        ListCase{"CommentedName", "#alice\n", "alice", 0},
        ListCase{"NameAfterAnotherUser", "bob\n\n   \n\t\nalice\n", "alice", 1},
        ListCase{"CaseCounts", "Alice\nALICE\n", "alice", 0},
        ListCase{"WholeWordOnly", "alic\nalicex\nalice#\n", "alice", 0},
        ListCase{"TabsAndNoFinalNewline", "\t alice", "alice", 1},
        ListCase{"EmptyList", "", "alice", 0},
        ListCase{"NoList", nullptr, "alice", 0},
        ListCase{"LongLineGoesInPieces", kLongFirst.c_str(), "bob", 1},
        ListCase{"PieceMayStartMidWord", kSplitWord.c_str(), "lice", 1},
        ListCase{"PieceMayEndMidWord", kSplitWord.c_str(), "alice", 0},
        ListCase{"CommentInASecondPiece", kLongComment.c_str(), "alice", 0}),
    [](const auto &row) { return std::string(row.param.label); });

TEST(PlayPenFailure, UserWithoutEntryIsRefusedForGood) {
    hv::test::write_file(kList, "*\n");
    hv::test::script("sxl_getpwuid", {.err = 0});
    EXPECT_EQ(ext_PlayPenAllowed(), 0);
    EXPECT_EQ(ext_PlayPenAllowed(), 0);
    EXPECT_EQ(calls("sxl_fopen"), 0);
    EXPECT_EQ(calls("sxl_getpwuid"), 1);
}

TEST(PlayPenFailure, OpeningIsTriedTwice) {
    hv::test::write_file(kList, "*\n");
    hv::test::script("sxl_fopen", {.times = 1, .err = EACCES});
    EXPECT_EQ(ext_PlayPenAllowed(), 1);
    EXPECT_EQ(calls("sxl_fopen"), 2);
}

TEST(PlayPenFailure, TwoFailedOpensGiveNoForGood) {
    hv::test::write_file(kList, "*\n");
    hv::test::script("sxl_fopen", {.times = 2, .err = EACCES});
    EXPECT_EQ(ext_PlayPenAllowed(), 0);
    EXPECT_EQ(ext_PlayPenAllowed(), 0);
    EXPECT_EQ(calls("sxl_fopen"), 2);
}

TEST(PlayPenFailure, ConcurrentFirstCallsReadTheListOnce) {
    hv::test::write_file(kList, "*\n");
    std::vector<int> answers(8);
    std::vector<std::thread> threads;
    for (int &answer : answers) threads.emplace_back([&answer] { answer = ext_PlayPenAllowed(); });
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(answers, std::vector<int>(8, 1));
    EXPECT_EQ(calls("sxl_fopen"), 1);
}

}  // namespace
