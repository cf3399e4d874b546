// Eight threads released together make the first call to each of the library's process-wide
// caches, then keep calling: every answer must be the one a single thread gets. One process per
// test, so that each release meets empty caches; under ThreadSanitizer (make tsan) the same runs
// prove the fills free of data races.

#include <atomic>
#include <barrier>
#include <thread>

#include "prelude.h"

namespace {

bool resolves(const char *token, const std::string &path) {
    char out[HV_EXT_PATH_MAX];
    return ext_GetActualFName(token, out) != nullptr && out == path;
}

bool greets() {
    char *value = nullptr;
    return ext_GetCustomiseInfo("Greeting", &value) && std::strcmp(value, "hello world") == 0 &&
           !ext_GetCustomiseInfo("Absent", &value);
}

// Each call must answer true in every thread, from the first round, made all together, on.
void race(std::vector<bool (*)()> calls) {
    hv::test::write_file("sys/general.cfg", "Greeting=hello_world\n");
    // The start count, 1234, as a little-endian 32-bit number after 40 bytes.
    hv::test::write_file("sys/sysdata", std::string(40, '\0') + std::string("\xd2\x04\0\0", 4));
    setenv("TZ", "EST5", 1);  // five hours west of UTC all year round
    constexpr int kThreads = 8;
    std::barrier together(kThreads);
    std::atomic<int> wrong = 0;
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < 200; ++round)
                for (auto call : calls) {
                    if (round == 0) together.arrive_and_wait();
                    wrong += !call();
                }
        });
    threads.clear();  // joins them
    EXPECT_EQ(wrong, 0);
}

// The site's zone name is the site library's string: the threads that lose the race to keep it
// (a slow site library makes them all meet there) must not free it.
TEST(FirstCalls, HomeAreaSettingsStartCountClockAndSiteZone) {
    setenv("HV_SITE_TIMEZONE_NAME", "Europe/Oslo", 1);
    hv::test::before_call("tayl_GetString", [] { usleep(10000); });
    race({[] { return resolves("~/x", hv::test::home("x")) && greets(); },
          [] { return ext_GetSystemStartCount() == 1234 && ext_TimeDiff() == 18000; },
          [] { return std::strcmp(ext_GetSystemTimezoneName(), "Europe/Oslo") == 0; }});
}

// Values may not be read across another thread's ext_FreeInfo: only whether the key was found.
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
    race({[] { return resolves("~UAP/in", "/data/uap/in") && ext_PlayPenAllowed() == 1; },
          [] { return ext_GetOrdavinUid() == 4242 && ext_IsSuperUser(4242) == 1; },
          [] {
              const char *zone = ext_GetSystemTimezoneName();
              return zone != nullptr && std::strcmp(zone, "Europe/Paris") == 0 &&
                     resolves("^/x", "/opt/morvek/x") && greets();
          }});
}

}  // namespace
