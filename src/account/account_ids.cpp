// The system account: its fixed login name, its ids looked up once per process in
// the password database, and the id changes towards it.

#include <atomic>
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "hv_ext.h"
#include "sxl.h"

namespace hv::account {
namespace {

constexpr char kOrdUserName[] = "morvek";
constexpr char kHvUserName[] = "halvorin";

// Room for one password entry's strings. An entry that does not fit is treated
// as missing, like any other failed lookup.
constexpr std::size_t kEntryBufferSize = 4096;

// The account id cache. It has no lock: concurrent first lookups may each fill
// it, and they store the same ids. The ids are stored before the filled mark is
// released, so a thread that sees the mark also sees both ids.
constinit std::atomic<uid_t> g_uid{0};
constinit std::atomic<gid_t> g_gid{0};
constinit std::atomic<bool> g_filled{false};

// getpwnam_r rather than getpwnam: the entry lands in this call's own storage,
// not in the C library's static record that other threads may be rewriting.
bool look_up_account() {
    char name[sizeof kOrdUserName];
    ext_GetOrdUserName(name);
    passwd entry;
    passwd *found = nullptr;
    char strings[kEntryBufferSize];
    if (getpwnam_r(name, &entry, strings, sizeof strings, &found) != 0 || found == nullptr)
        return false;
    g_gid.store(entry.pw_gid, std::memory_order_relaxed);
    g_uid.store(entry.pw_uid, std::memory_order_relaxed);
    g_filled.store(true, std::memory_order_release);
    return true;
}

bool account_known() {
    return g_filled.load(std::memory_order_acquire) || look_up_account();
}

int errno_of(int result) { return result == 0 ? 0 : errno; }

}  // namespace
}  // namespace hv::account

using namespace hv::account;

extern "C" void ext_GetOrdUserName(char *buf) noexcept {
    if (buf != nullptr) std::memcpy(buf, kOrdUserName, sizeof kOrdUserName);
}

extern "C" void ext_GetHvUserName(char *buf) noexcept {
    if (buf != nullptr) std::memcpy(buf, kHvUserName, sizeof kHvUserName);
}

extern "C" uid_t ext_GetOrdavinUid(void) noexcept {
    return account_known() ? g_uid.load(std::memory_order_relaxed) : 0;
}

extern "C" gid_t ext_GetOrdavinGid(void) noexcept {
    return account_known() ? g_gid.load(std::memory_order_relaxed) : 0;
}

extern "C" int ext_SetUidToOrdavin(void) noexcept {
    const uid_t uid = ext_GetOrdavinUid();
    if (uid == 0) return EINVAL;
    return errno_of(setuid(uid));
}

extern "C" int ext_SetGidToOrdavin(void) noexcept {
    const gid_t gid = ext_GetOrdavinGid();
    if (gid == 0) return EINVAL;
    return errno_of(setgid(gid));
}

// No refusal of group 0 here: with the account missing, an effective group of 0
// becomes the real group as well.
extern "C" int ext_SetRGidToOrdavin(void) noexcept {
    const gid_t real = sxl_getgid();
    const gid_t effective = sxl_getegid();
    const gid_t account = ext_GetOrdavinGid();
    if (effective != account || real == account) return 0;
    return errno_of(sxl_setregid(effective, static_cast<gid_t>(-1)));
}

extern "C" int ext_IsSuperUser(uid_t uid) noexcept {
    return uid == 0 || uid == ext_GetOrdavinUid() ? 1 : 0;
}
