// "/etc/timezone" and "~/sys/TimeZoneMap" with any content, served from memory,
// against plain readings of both. The system zone name is kept for the life of a
// process once found, so this target is built on the routine's own source and
// empties that cache before each input.
//
// Input: the alias to look up, a NUL, the content of "/etc/timezone", a NUL, the
// content of the map file.

#include "time/zone_names.cpp"

#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"

namespace {

using namespace hv::fuzz;

constexpr char kZoneMapPath[] = "/srv/mail/sys/TimeZoneMap";
constexpr std::size_t kPiece = 1022;

bool skipped(const char *line) { return line[0] == '#' || static_cast<signed char>(line[0]) <= ' '; }

// The zone name the file states, in a buffer of kPiece + 1; false for none.
bool expected_zone(Bytes file, char *zone) {
    bool found = false;
    for_each_read(file, kPiece, [&](const char *line) {
        if (skipped(line)) return true;
        const std::size_t length = std::strcspn(line, "\n");
        const bool quoted = line[0] == '"';
        const std::size_t end = quoted && length > 1 && line[length - 1] == '"' ? length - 1 : length;
        std::memcpy(zone, line + quoted, end - quoted);
        zone[end - quoted] = '\0';
        found = true;
        return false;
    });
    return found;
}

// The TZID the map gives for alias: the last matching line's, until a TZID too long.
int expected_tzid(Bytes map, const char *alias, char *tzid) {
    std::strcpy(tzid, "Europe/London");
    int found = 0;
    const std::size_t length = std::strlen(alias);
    for_each_read(map, kPiece, [&](char *line) {
        line[std::strcspn(line, "\n")] = '\0';
        if (skipped(line) || std::strlen(line) <= length || ::strncasecmp(line, alias, length) != 0 ||
            line[length] != ' ')
            return true;
        const char *id = line + length + std::strspn(line + length, " ");
        const std::size_t id_length = std::strcspn(id, " ");
        if (id_length > 79) return false;
        std::memcpy(tzid, id, id_length);
        tzid[id_length] = '\0';
        found = 1;
        return true;
    });
    return found;
}

void check_system_zone(Bytes file) {
    serve_file("/etc/timezone", file);
    char expected[kPiece + 1];
    const bool found = expected_zone(file, expected);
    const char *zone = ext_GetSystemTimezoneName();
    if (zone == nullptr ? found : !found || std::strcmp(zone, expected) != 0)
        mismatch("ext_GetSystemTimezoneName and the file differ");
    if (zone != nullptr && ext_GetSystemTimezoneName() != zone)
        mismatch("ext_GetSystemTimezoneName did not keep its name");
    std::free(const_cast<char *>(hv::time::g_zone_name.exchange(nullptr)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // The site setting would win over the file, and it is not ours to free.
    static const bool no_site_setting = ::unsetenv("HV_SITE_TIMEZONE_NAME") == 0;
    (void)no_site_setting;
    Bytes in{data, size};
    const Text alias(take_part(in));
    const Bytes zone_file = take_part(in);
    check_system_zone(zone_file);

    serve_file(kZoneMapPath, in);
    char *tzid = static_cast<char *>(std::malloc(80));
    char expected[80];
    const int found = ext_GetTZIDFromAlias(alias.get(), tzid);
    if (found != expected_tzid(in, alias.get(), expected) || std::strcmp(tzid, expected) != 0)
        mismatch("ext_GetTZIDFromAlias and the map differ");
    if (ext_GetTZIDFromAlias(nullptr, tzid) != 0 || std::strcmp(tzid, "Europe/London") != 0)
        mismatch("ext_GetTZIDFromAlias(null)");
    std::free(tzid);
    forget_files();
    return 0;
}
