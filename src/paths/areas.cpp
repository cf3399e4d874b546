// The suite's areas on disk: the home area from the data-directory library, the
// fixed installation root, the UAP area named by a Uredirect file, and two slots of
// alternative areas registered at run time.

#include "paths/areas.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "dtk.h"
#include "hv_ext.h"
#include "internal/install_root.h"
#include "internal/library_mutexes.h"
#include "internal/owned_file.h"
#include "internal/path_buffer.h"
#include "internal/scoped_lock.h"
#include "sxl.h"

namespace hv::paths {
namespace {

constexpr auto kFirstRedirect = under_install_root("/bin/Uredirect");
constexpr char kSecondRedirect[] = "/usr/morvek/bin/Uredirect";
constexpr std::string_view kDefaultUap = "/usr/UAP";
constexpr char kWhichSystem[] = "[HV 28506] Which Morvek Server system?\n";
constexpr int kNoSystemStatus = 98;
constexpr int kSlots = 2;

// Process-wide caches, empty (first byte NUL) until filled. The home and UAP areas
// are guarded by their library mutexes; once filled they never change. The
// alternative slots are unguarded: programs register them during start-up, before
// other threads resolve names.
constinit char g_home[kPathMax] = {};
constinit char g_uap[kPathMax] = {};
constinit char g_alternative[kSlots][kPathMax] = {};

[[noreturn]] void end_unidentified(ScopedLock &lock) {
    ext_ReportWhichHvSystem();
    lock.unlock();
    sxl_exit(kNoSystemStatus);
}

// Reads the first line of a Uredirect file into the UAP cache; the newline, if
// read, ends the path, and nothing else is trimmed.
void read_redirect(const char *path) {
    OwnedFile file(sxl_fopen(path, "r"));
    if (!file) return;
    if (sxl_fgets(g_uap, kPathMax, file.get()) == nullptr) {
        g_uap[0] = '\0';
        return;
    }
    if (char *newline = std::strchr(g_uap, '\n')) *newline = '\0';
}

bool valid_slot(int slot) { return slot >= 0 && slot < kSlots; }

}  // namespace

bool join_home(char *out, std::string_view tail) noexcept {
    ScopedLock lock(library_mutex(LibraryMutex::kHomeArea));
    if (g_home[0] == '\0') {
        const char *dir = dtk_getDatadir();
        // A home area that does not fit a path buffer cannot be used any more than
        // a missing one.
        if (dir == nullptr || path_length(dir) == kPathMax) end_unidentified(lock);
        std::memcpy(g_home, dir, path_length(dir) + 1);
    }
    return join_path(out, g_home, tail);
}

bool join_uap(char *out, std::string_view tail) noexcept {
    ScopedLock lock(library_mutex(LibraryMutex::kUapArea));
    if (g_uap[0] == '\0') {
        read_redirect(kFirstRedirect.data());
        if (g_uap[0] == '\0') read_redirect(kSecondRedirect);
        if (g_uap[0] == '\0') join_path(g_uap, kDefaultUap, {});
    }
    return join_path(out, g_uap, tail);
}

bool join_alternative(int slot, char *out, std::string_view tail) noexcept {
    if (!valid_slot(slot) || g_alternative[slot][0] == '\0') return false;
    return join_path(out, g_alternative[slot], tail);
}

}  // namespace hv::paths

using namespace hv;

extern "C" int ext_GetHomePath(char *buf) noexcept {
    if (buf == nullptr) return 0;
    paths::join_home(buf, {});
    return 1;
}

extern "C" char *ext_GetHVBinPath(char *buf) noexcept {
    if (buf != nullptr) join_path(buf, kInstallRoot, {});
    return buf;
}

extern "C" int ext_GetUAPPath(char *buf) noexcept {
    if (buf == nullptr) return 0;
    paths::join_uap(buf, {});
    return 1;
}

extern "C" int ext_SetAlternativeArea(int slot, const char *path) noexcept {
    if (!paths::valid_slot(slot) || path == nullptr) {
        errno = EINVAL;
        return 0;
    }
    const std::size_t length = path_length(path);
    if (length == kPathMax) {
        errno = ENAMETOOLONG;
        return 0;
    }
    sxl_statbuf st;
    if (sxl_stat(path, &st) != 0) return 0;
    std::memcpy(paths::g_alternative[slot], path, length + 1);
    return 1;
}

extern "C" int ext_GetAlternativeArea(int slot, char *buf) noexcept {
    if (buf == nullptr) return 0;
    return paths::join_alternative(slot, buf, {}) ? 1 : 0;
}

extern "C" int ext_CdToHome(void) noexcept {
    char home[kPathMax];
    if (ext_GetHomePath(home) == 0) return 0;
    return chdir(home) == 0 ? 1 : 0;
}

extern "C" void ext_ReportWhichHvSystem(void) noexcept {
    std::fwrite(paths::kWhichSystem, 1, sizeof paths::kWhichSystem - 1, stderr);
}
