// Eight threads released together make the first calls to each of the library's
// process-wide caches, then keep calling for a while: every answer must be the one
// a single thread gets from the same installation. One process per row, so that
// the release really meets an empty cache. Under ThreadSanitizer (make tsan) the
// same runs also prove the fills free of data races.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "hv_ext.h"

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 200;

struct Race {
    const char *label;
    std::string (*call)();
    const char *expected;
};

void PrintTo(const Race &race, std::ostream *os) { *os << race.label; }

std::string resolved(const char *token) {
    char path[HV_EXT_PATH_MAX];
    return ext_GetActualFName(token, path) ? path : "(null)";
}

std::string setting(const char *key) {
    char *value = nullptr;
    return ext_GetCustomiseInfo(key, &value) ? value : "(missing)";
}

const Race kRaces[] = {
    {"HomeArea", [] { return std::to_string(resolved("~/x") == hv::test::home("x")); }, "1"},
    {"InstalledUapArea", [] { return resolved("~UAP"); }, "/data/uap"},
    {"Settings", [] { return setting("Greeting") + "|" + setting("Absent"); },
     "hello world|(missing)"},
    // Values may not be read across another thread's ext_FreeInfo: only the
    // answers are compared while stores are dropped and loaded again.
    {"SettingsFreed", [] {
         char *value = nullptr;
         const int found = ext_GetCustomiseInfo("Greeting", &value);
         ext_FreeInfo();
         return std::to_string(found);
     }, "1"},
    {"InstalledPlayPen", [] { return std::to_string(ext_PlayPenAllowed()); }, "1"},
    {"InstalledAccountIds", [] {
         return std::to_string(ext_GetOrdavinUid()) + ":" + std::to_string(ext_GetOrdavinGid()) +
                ":" + std::to_string(ext_IsSuperUser(hv::test::kMorvekUid));
     }, "4242:4242:1"},
    {"InstalledTimezoneName", [] {
         const char *name = ext_GetSystemTimezoneName();
         return std::string(name ? name : "(null)");
     }, "Europe/Paris"},
    {"StartCount", [] { return std::to_string(ext_GetSystemStartCount()); }, "1234"},
    {"TimeDiff", [] { return std::to_string(ext_TimeDiff()); }, "18000"},
    {"InstalledTokensAndSettings", [] {
         return resolved("~/sys/general.cfg") + "|" + resolved("~UAP/in") + "|" +
                resolved("~/bin/hvchown") + "|" + resolved("^/x") + "|" + setting("Greeting");
     }, "/srv/mail/sys/general.cfg|/data/uap/in|/opt/morvek/bin/hvchown|/opt/morvek/x|hello world"},
};

class FirstCalls : public testing::TestWithParam<Race> {
protected:
    void SetUp() override {
        using hv::test::write_file;
        write_file("sys/general.cfg", "Greeting=hello_world\n");
        if (std::strstr(GetParam().label, "Installed") != nullptr) {
            write_file("/opt/morvek/bin/Uredirect", "/data/uap\n");
            write_file("/opt/morvek/bin/hvpp.allow", "*\n");
            write_file("/etc/timezone", "\"Europe/Paris\"\n");
        }
        const std::int32_t count = 1234;
        std::string sysdata(40, '\0');
        sysdata.append(reinterpret_cast<const char *>(&count), sizeof count);
        write_file("sys/sysdata", sysdata);
        // Five hours west of UTC all year round.
        setenv("TZ", "EST5", 1);
    }
};

TEST_P(FirstCalls, EveryThreadGetsTheSingleThreadedAnswer) {
    const Race &race = GetParam();
    std::latch start(kThreads);
    std::optional<std::string> wrong[kThreads];  // each thread's first wrong answer
    std::vector<std::thread> threads;
    for (std::optional<std::string> &mine : wrong) {
        threads.emplace_back([&start, &race, &mine] {
            start.arrive_and_wait();
            for (int round = 0; round < kRounds && !mine; ++round)
                if (std::string answer = race.call(); answer != race.expected) mine = answer;
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (const std::optional<std::string> &answer : wrong) EXPECT_EQ(answer, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Caches, FirstCalls, testing::ValuesIn(kRaces),
    [](const testing::TestParamInfo<Race> &row) { return std::string(row.param.label); });

}  // namespace
