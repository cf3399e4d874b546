// Eight threads released together make the first call to each of the library's process-wide
// caches, then keep calling for a while: every answer must be the one a single thread gets from
// the same installation. One process per test, so that each release meets an empty cache. Under
// ThreadSanitizer (make tsan) the same runs also prove the fills free of data races.

#include <barrier>
#include <initializer_list>
#include <string_view>
#include <thread>

#include "prelude.h"

namespace {

std::string resolved(const char *token) {
    char path[HV_EXT_PATH_MAX];
    return ext_GetActualFName(token, path) ? path : "(null)";
}

std::string setting(const char *key) {
    char *value = nullptr;
    return ext_GetCustomiseInfo(key, &value) ? value : "(missing)";
}

// With the settings, start count and clock below, the threads make each call for the first time
// all together, then all of them again; every call must answer true, as it does in a single
// thread. A call may fill several caches in turn.
void race(std::initializer_list<bool (*)()> calls) {
    constexpr int kThreads = 8, kRounds = 200;
    hv::test::write_file("sys/general.cfg", "Greeting=hello_world\n");
    // The start count, 1234, as a little-endian 32-bit number after 40 bytes.
    hv::test::write_file("sys/sysdata", std::string(40, '\0') + std::string("\xd2\x04\0\0", 4));
    setenv("TZ", "EST5", 1);  // five hours west of UTC all year round
    std::barrier together(kThreads);
    std::size_t wrong[kThreads] = {};  // each thread's first call to answer false, from 1
    std::vector<std::thread> threads;
    for (std::size_t &mine : wrong) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds && mine == 0; ++round)
                for (std::size_t i = 0; i < calls.size(); ++i) {
                    if (round == 0) together.arrive_and_wait();
                    if (!calls.begin()[i]() && mine == 0) mine = i + 1;
                }
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (std::size_t call : wrong) EXPECT_EQ(call, 0u);
}

TEST(FirstCalls, HomeAreaSettingsStartCountAndClock) {
    race({[] { return resolved("~/x") == hv::test::home("x"); },
          [] { return setting("Greeting") == "hello world" && setting("Absent") == "(missing)"; },
          [] { return ext_GetSystemStartCount() == 1234; },
          [] { return ext_TimeDiff() == 18000; }});
}

// Values may not be read across another thread's ext_FreeInfo: only whether the key was found
// is checked while stores are dropped and loaded again.
TEST(FirstCalls, SettingsFreedWhileOthersLoad) {
    race({[] {
        char *value = nullptr;
        const int found = ext_GetCustomiseInfo("Greeting", &value);
        ext_FreeInfo();
        return found == 1;
    }});
}

TEST(FirstCalls, InstalledAreasPlayPenAccountAndZone) {
    hv::test::write_file("/opt/morvek/bin/Uredirect", "/data/uap\n");
    hv::test::write_file("/opt/morvek/bin/hvpp.allow", "*\n");
    hv::test::write_file("/etc/timezone", "\"Europe/Paris\"\n");
    race({[] { return resolved("~UAP") == "/data/uap"; }, [] { return ext_PlayPenAllowed() == 1; },
          [] {
              return ext_GetOrdavinUid() == 4242 && ext_GetOrdavinGid() == 4242 &&
                     ext_IsSuperUser(hv::test::kMorvekUid) == 1;
          },
          [] {
              const char *zone = ext_GetSystemTimezoneName();
              return zone != nullptr && std::string_view(zone) == "Europe/Paris";
          },
          [] {
              return resolved("~/sys/general.cfg") == "/srv/mail/sys/general.cfg" &&
                     resolved("~UAP/in") == "/data/uap/in" &&
                     resolved("~/bin/hvchown") == "/opt/morvek/bin/hvchown" &&
                     resolved("^/x") == "/opt/morvek/x" && setting("Greeting") == "hello world";
          }});
}

}  // namespace
