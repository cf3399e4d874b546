// The system account: names, the id cache, and the id changes, which run in forked
// children so that the test process keeps its own ids.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::kMorvekGid;
using hv::test::kMorvekUid;

constexpr uid_t kOtherId = 5000;

// Replaces the morvek line of the sandbox's /etc/passwd (ids: uid:gid), or drops
// it when ids is null.
void set_account(const char *ids) {
    std::ifstream in("/etc/passwd");
    std::string text, line;
    while (std::getline(in, line))
        if (line.rfind("morvek:", 0) != 0) text += line + "\n";
    if (ids != nullptr) text += std::string("morvek:x:") + ids + ":Morvek Server:/srv/mail:/bin/sh\n";
    hv::test::write_file("/etc/passwd", text);
}

// Runs body in a forked child and hands back the numbers it reported.
std::vector<long> in_child(const std::function<std::vector<long>()> &body) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::vector<long> values = body();
        const auto size = static_cast<ssize_t>(values.size() * sizeof(long));
        _exit(write(fds[1], values.data(), static_cast<size_t>(size)) == size ? 0 : 1);
    }
    close(fds[1]);
    std::vector<long> values;
    long value;
    while (read(fds[0], &value, sizeof value) == static_cast<ssize_t>(sizeof value))
        values.push_back(value);
    close(fds[0]);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return values;
}

std::vector<long> ids() { return {long(getuid()), long(geteuid()), long(getgid()), long(getegid())}; }

TEST(AccountNames, WriteExactlyTheNameAndItsNul) {
    const struct {
        void (*get)(char *);
        const char *name;
    } rows[] = {{ext_GetOrdUserName, "morvek"}, {ext_GetHvUserName, "halvorin"}};
    for (const auto &row : rows) {
        char buf[16];
        std::memset(buf, '#', sizeof buf);
        row.get(buf);
        const std::size_t size = std::strlen(row.name) + 1;
        EXPECT_EQ(std::memcmp(buf, row.name, size), 0) << row.name;
        EXPECT_EQ(buf[size], '#') << row.name;
    }
}

TEST(AccountIds, LookedUpOnceThenKept) {
    set_account("4242:4343");  // a group id unlike the user id shows which is which
    EXPECT_EQ(ext_GetOrdavinUid(), 4242u);
    set_account(nullptr);
    EXPECT_EQ(ext_GetOrdavinGid(), 4343u);
    EXPECT_EQ(ext_GetOrdavinUid(), 4242u);
    for (uid_t uid : {0u, 4242u}) EXPECT_EQ(ext_IsSuperUser(uid), 1) << uid;
    for (uid_t uid : {4241u, 4343u, static_cast<uid_t>(-1)}) EXPECT_EQ(ext_IsSuperUser(uid), 0) << uid;
}

TEST(AccountIds, MissingAccountIsAskedForAgain) {
    set_account(nullptr);
    const std::vector<long> before = ids();
    EXPECT_EQ(ext_GetOrdavinUid(), 0u);
    EXPECT_EQ(ext_GetOrdavinGid(), 0u);
    EXPECT_EQ(ext_SetUidToOrdavin(), EINVAL);
    EXPECT_EQ(ext_SetGidToOrdavin(), EINVAL);
    EXPECT_EQ(ids(), before);
    EXPECT_EQ(ext_IsSuperUser(0), 1);
    EXPECT_EQ(ext_IsSuperUser(kMorvekUid), 0);
    set_account("4242:4242");
    EXPECT_EQ(ext_GetOrdavinGid(), kMorvekGid);
}

TEST(AccountIdChange, RootBecomesTheAccount) {
    HV_REQUIRE_REAL_ROOT();
    const std::vector<long> after = in_child([] {
        std::vector<long> got{ext_SetGidToOrdavin(), ext_SetUidToOrdavin()};
        for (long id : ids()) got.push_back(id);
        return got;
    });
    EXPECT_EQ(after, (std::vector<long>{0, 0, 4242, 4242, 4242, 4242}));
}

TEST(AccountIdChange, AnotherUserIsRefused) {
    HV_REQUIRE_REAL_ROOT();
    const std::vector<long> after = in_child([] {
        if (setgid(kOtherId) != 0 || setuid(kOtherId) != 0) return std::vector<long>{};
        std::vector<long> got{ext_SetGidToOrdavin(), ext_SetUidToOrdavin()};
        for (long id : ids()) got.push_back(id);
        return got;
    });
    EXPECT_EQ(after, (std::vector<long>{EPERM, EPERM, kOtherId, kOtherId, kOtherId, kOtherId}));
}

// Aligning the real group id with the effective one, from a child that starts
// with the given real and effective group ids.
struct GroupCase {
    const char *label;
    const char *account;  // the morvek entry's uid:gid, null: missing
    gid_t real, effective;
    int fault;            // errno scripted for sxl_setregid, 0: none
    long result;
    gid_t real_after;
    long changes;         // calls of sxl_setregid
};

void PrintTo(const GroupCase &row, std::ostream *os) { *os << row.label; }

class RealGroup : public testing::TestWithParam<GroupCase> {};

TEST_P(RealGroup, FollowsTheEffectiveGroupWhenItIsTheAccounts) {
    HV_REQUIRE_REAL_ROOT();
    const GroupCase &c = GetParam();
    set_account(c.account);
    const std::vector<long> got = in_child([&c] {
        if (setregid(c.real, c.effective) != 0) return std::vector<long>{};
        if (c.fault != 0) hv::test::script("sxl_setregid", {.err = c.fault});
        const long result = ext_SetRGidToOrdavin();
        return std::vector<long>{result, long(getgid()), long(getegid()),
                                 hv::test::calls("sxl_setregid")};
    });
    EXPECT_EQ(got, (std::vector<long>{c.result, long(c.real_after), long(c.effective), c.changes}));
}

INSTANTIATE_TEST_SUITE_P(
    AccountIdChange, RealGroup,
    testing::Values(
        GroupCase{"EffectiveNotTheAccounts", "4242:4242", 0, 0, 0, 0, 0, 0},
        GroupCase{"OtherEffectiveGroup", "4242:4242", 4242, 7, 0, 0, 4242, 0},
        GroupCase{"AlreadyAligned", "4242:4242", 4242, 4242, 0, 0, 4242, 0},
        GroupCase{"RealBecomesEffective", "4242:4242", 0, 4242, 0, 0, 4242, 1},
        GroupCase{"MissingAccountCountsAsGroupZero", nullptr, 1234, 0, 0, 0, 0, 1},
        GroupCase{"RefusedChangeGivesErrno", "4242:4242", 0, 4242, EPERM, EPERM, 0, 1}),
    [](const auto &row) { return std::string(row.param.label); });

}  // namespace
