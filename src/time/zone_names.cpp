// Time-zone names: the installation's own zone (a site string, else
// "/etc/timezone"), and TZIDs for the aliases that clients use, from the map file
// "~/sys/TimeZoneMap".
//
// Both files are read line by line as internal/line_reader.h has it.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <strings.h>

#include "hv_ext.h"
#include "internal/line_reader.h"
#include "internal/owned_file.h"
#include "internal/path_buffer.h"
#include "sxl.h"
#include "tayl.h"

namespace hv::time {
namespace {

constexpr char kSiteKey[] = "TIMEZONE_NAME";
constexpr char kSystemZoneFile[] = "/etc/timezone";
constexpr char kZoneMapName[] = "~/sys/TimeZoneMap";
constexpr char kDefaultTzid[] = "Europe/London";
constexpr std::size_t kTzidMax = 79;

// Null until a name is found, then kept: either the site library's string or a
// heap copy of ours, never freed.
constinit std::atomic<const char *> g_zone_name{nullptr};

// Keeps the first name stored. Two first calls at once may both find one; the
// loser's copy goes back (a site string is not ours to free).
const char *keep_zone_name(const char *name, bool owned) {
    const char *expected = nullptr;
    if (g_zone_name.compare_exchange_strong(expected, name, std::memory_order_acq_rel))
        return name;
    if (owned) std::free(const_cast<char *>(name));
    return expected;
}

// A closing quote goes only after an opening one. Nothing else is trimmed: blanks
// and a carriage return at the end stay part of the name, as written.
const char *unquote(char *line) {
    if (line[0] != '"') return line;
    char *text = line + 1;
    const std::size_t length = std::strlen(text);
    if (length > 0 && text[length - 1] == '"') text[length - 1] = '\0';
    return text;
}

const char *read_system_zone() {
    OwnedFile file(sxl_fopen(kSystemZoneFile, "r"));
    if (!file) return nullptr;
    lines::LineBuffer line;
    char *text = lines::next_text<sxl_fgets>(file.get(), line);
    if (text == nullptr) return nullptr;
    char *copy = ::strdup(unquote(text));
    return copy != nullptr ? keep_zone_name(copy, true) : nullptr;
}

// The TZID of a map line for an alias of `length` characters: the word after the
// run of spaces that follows the alias.
std::string_view tzid_of(const char *line, std::size_t length) {
    const char *start = line + length;
    while (*start == ' ') ++start;
    const char *end = start;
    while (*end != '\0' && *end != ' ') ++end;
    return {start, static_cast<std::size_t>(end - start)};
}

}  // namespace
}  // namespace hv::time

using namespace hv;
using namespace hv::time;

extern "C" const char *ext_GetSystemTimezoneName(void) noexcept {
    if (const char *known = g_zone_name.load(std::memory_order_acquire)) return known;
    if (const char *site = tayl_GetString(kSiteKey, 0, 0, 0)) return keep_zone_name(site, false);
    return read_system_zone();
}

extern "C" int ext_GetTZIDFromAlias(const char *alias, char *tzid) noexcept {
    if (tzid == nullptr) return 0;
    std::memcpy(tzid, kDefaultTzid, sizeof kDefaultTzid);
    if (alias == nullptr) return 0;
    char path[kPathMax];
    if (ext_GetActualFName(kZoneMapName, path) == nullptr) return 0;
    OwnedFile file(sxl_fopen(path, "r"));
    if (!file) return 0;

    // An alias may hold spaces of its own: a line matches when it begins with the
    // alias, in any case, and a space follows. An empty alias never matches, as no
    // line that is read begins with a space.
    const std::size_t length = std::strlen(alias);
    int found = 0;
    lines::LineBuffer line;
    while (const char *text = lines::next_text<sxl_fgets>(file.get(), line)) {
        if (::strncasecmp(text, alias, length) != 0 || text[length] != ' ') continue;
        const std::string_view id = tzid_of(text, length);
        if (id.size() > kTzidMax) break;
        std::memcpy(tzid, id.data(), id.size());
        tzid[id.size()] = '\0';
        found = 1;
    }
    return found;
}
