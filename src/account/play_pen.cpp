// The play-pen access list "/opt/morvek/bin/hvpp.allow": one user per line (the
// first word of it), or "*" for everyone. Consulted once per process; the answer
// is kept, even when no list or no user entry was found.

#include <cstring>
#include <pwd.h>
#include <string_view>

#include "hv_ext.h"
#include "internal/install_root.h"
#include "internal/library_mutexes.h"
#include "internal/owned_file.h"
#include "internal/scoped_lock.h"
#include "sxl.h"

namespace hv::account {
namespace {

constexpr auto kAllowList = under_install_root("/bin/hvpp.allow");
// 81 characters a read. A longer line arrives in pieces, and each piece counts
// as a line of its own.
constexpr int kLineSize = 82;
constexpr char kSeparators[] = " \t\n";
constexpr std::string_view kEveryone = "*";

// Guarded by the play-pen mutex.
constinit int g_pending = 1;
constinit int g_allowed = 0;

// The login name, copied at once out of the record that the C library shares
// with every other password lookup in the process. A name longer than a line can
// never equal a word, so it is kept only that far.
struct Login {
    char name[kLineSize];
    std::size_t length;
    std::string_view view() const { return {name, length}; }
};

bool real_user_login(Login &login) {
    const passwd *entry = sxl_getpwuid(sxl_getuid());
    if (entry == nullptr || entry->pw_name == nullptr) return false;
    login.length = ::strnlen(entry->pw_name, kLineSize);
    std::memcpy(login.name, entry->pw_name, login.length);
    return true;
}

std::string_view first_word(const char *line) {
    const char *word = line + std::strspn(line, kSeparators);
    return {word, std::strcspn(word, kSeparators)};
}

// The answer is kept for the life of the process, so a list that is missing for a
// moment, while it is being replaced, gets one more try before it counts as absent.
FILE *open_list() {
    FILE *list = sxl_fopen(kAllowList.data(), "r");
    return list != nullptr ? list : sxl_fopen(kAllowList.data(), "r");
}

bool list_allows(std::string_view login) {
    OwnedFile list(open_list());
    if (!list) return false;
    char line[kLineSize];
    while (sxl_fgets(line, kLineSize, list.get()) != nullptr) {
        const std::string_view word = first_word(line);
        if (word.empty() || word[0] == '#') continue;
        if (word == login || word == kEveryone) return true;
    }
    return false;
}

}  // namespace
}  // namespace hv::account

using namespace hv;
using namespace hv::account;

extern "C" int ext_PlayPenAllowed(void) noexcept {
    ScopedLock lock(library_mutex(LibraryMutex::kPlayPen));
    if (g_pending != 0) {
        Login login;
        if (real_user_login(login) && list_allows(login.view())) g_allowed = 1;
        g_pending = 0;
    }
    return g_allowed;
}
