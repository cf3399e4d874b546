// File-name tokens and short names against a plain reading of the token grammar,
// with every area fuzzed: the home area, the UAP area (the first line of a
// Uredirect file served from memory), alternative slot 1 and which sendmail path
// exists. The areas are cached for the life of a process, so this target is built
// on their own source and empties the caches before each input. Every result must
// fit a path buffer, be refused with null when it would not, and the round trips
// between ext_GetActualFName and ext_GetShortFName must hold.
//
// Input: one byte of flags (1: /usr/slib/sendmail exists, 2: /usr/lib/sendmail
// exists, 4: slot 1 is set, 8: the UAP area comes from the second Uredirect
// file); then the home area, a NUL, slot 1's path, a NUL, the Uredirect file, a
// NUL, the name.

#include "paths/areas.cpp"

#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"

namespace {

using namespace hv::fuzz;

constexpr char kRoot[] = "/opt/morvek";

struct Areas {
    unsigned flags;
    const char *home;
    const char *uap;
    const char *alternative;  // null: slot 1 empty
};
Areas g_areas;

bool exists(const char *path) {
    if (g_areas.alternative != nullptr && std::strcmp(path, g_areas.alternative) == 0)
        return path[0] != '\0';
    if (std::strcmp(path, "/usr/slib/sendmail") == 0) return (g_areas.flags & 1) != 0;
    return std::strcmp(path, "/usr/lib/sendmail") == 0 && (g_areas.flags & 2) != 0;
}

bool begins(const char *name, const char *word) {
    return std::strncmp(name, word, std::strlen(word)) == 0;
}

bool component(const char *name, const char *word) {
    const std::size_t length = std::strlen(word);
    return begins(name, word) && (name[length] == '\0' || name[length] == '/');
}

// head followed by tail into out (room for both); true.
bool join(char *out, const char *head, const char *tail) {
    std::strcpy(out, head);
    std::strcat(out, tail);
    return true;
}

// The expansion as the grammar reads it, however long; false for no path.
bool expected_path(const char *name, char *out) {
    if (name[0] == '~' && name[1] == '/') {
        const bool root = component(name, "~/bin") || component(name, "~/diag") ||
                          component(name, "~/newconfig");
        return join(out, root ? kRoot : g_areas.home, name + 1);
    }
    if (name[0] == '~') return component(name, "~UAP") && join(out, g_areas.uap, name + 4);
    if (begins(name, "@/")) return g_areas.alternative != nullptr && join(out, g_areas.alternative, name + 1);
    if (begins(name, "^/")) return join(out, kRoot, name + 1);
    const char *sendmail = component(name, "/usr/slib/sendmail") ? "/usr/slib/sendmail"
                           : component(name, "/usr/lib/sendmail") ? "/usr/lib/sendmail"
                                                                   : nullptr;
    if (sendmail == nullptr) return join(out, "", name);
    const char *found = g_areas.flags & 1 ? "/usr/slib/sendmail"
                        : g_areas.flags & 2 ? "/usr/lib/sendmail"
                                            : "/usr/slib/sendmail";
    return join(out, found, name + std::strlen(sendmail));
}

// The short form as the rules read it: the result, and out as it must be.
int expected_short(const char *name, char *out) {
    const std::size_t length = std::strlen(name);
    out[0] = '\0';
    if (length >= kPathMax) return 0;
    std::strcpy(out, name);
    if ((name[0] == '~' || name[0] == '@' || name[0] == '^') && name[1] == '/') return 1;
    const char *areas[] = {g_areas.home, g_areas.alternative};
    const char *marks[] = {"~", "@"};
    for (int i = 0; i < 2; ++i) {
        if (areas[i] == nullptr || !begins(name, areas[i])) continue;
        // A short form that does not fit a path buffer is no short form.
        if (1 + length - std::strlen(areas[i]) >= kPathMax) continue;
        return join(out, marks[i], name + std::strlen(areas[i])) ? 1 : 0;
    }
    return 0;
}

// One resolution into a buffer of exactly kPathMax bytes, checked against the
// grammar; a "~" name that fails must leave the buffer untouched. The result, or
// null, with the path in out.
const char *check_actual(const char *name, char *out) {
    const std::size_t room = std::strlen(name) + 2 * kPathMax;
    char *expected = static_cast<char *>(std::malloc(room));
    const bool resolves = expected_path(name, expected);
    std::memset(out, 'Z', kPathMax - 1);
    out[kPathMax - 1] = '\0';
    const char *got = ext_GetActualFName(name, out);
    if (resolves && std::strlen(expected) < kPathMax) {
        if (got != out || std::strcmp(out, expected) != 0) mismatch("ext_GetActualFName");
        if (std::strcmp(ext_GetActualFName(name, nullptr), expected) != 0 ||
            std::strcmp(ext_FullFName(name), expected) != 0)
            mismatch("ext_GetActualFName into a static buffer");
    } else if (got != nullptr) {
        mismatch("ext_GetActualFName gave a path where none fits");
    } else if (name[0] == '~' && !resolves && std::strspn(out, "Z") != kPathMax - 1) {
        mismatch("ext_GetActualFName wrote into the buffer of a bad '~' name");
    }
    std::free(expected);
    return got;
}

void check_short(const char *name) {
    char *out = static_cast<char *>(std::malloc(kPathMax));
    char expected[kPathMax];
    const int shortened = ext_GetShortFName(name, out);
    if (shortened != expected_short(name, expected) || std::strcmp(out, expected) != 0)
        mismatch("ext_GetShortFName");
    // Back again: a short "~/" (home, not the installation root) or "@/" form
    // resolves to the path it came from.
    const bool root = component(out, "~/bin") || component(out, "~/diag") ||
                      component(out, "~/newconfig");
    const bool token = (name[0] == '~' || name[0] == '@' || name[0] == '^') && name[1] == '/';
    if (shortened == 1 && !token && (begins(out, "@/") || (begins(out, "~/") && !root))) {
        char *back = static_cast<char *>(std::malloc(kPathMax));
        if (ext_GetActualFName(out, back) == nullptr || std::strcmp(back, name) != 0)
            mismatch("a short name does not resolve to its path");
        std::free(back);
    }
    std::free(out);
}

void set_areas(unsigned flags, const Text &home, const Text &alternative, Bytes redirect,
               char *uap) {
    using namespace hv::paths;
    g_home[0] = g_uap[0] = g_alternative[0][0] = g_alternative[1][0] = '\0';
    // A home area longer than a path buffer ends the process: the suite's never is.
    home.get()[std::min<std::size_t>(std::strlen(home.get()), kPathMax - 1)] = '\0';
    set_home(home.get());
    g_areas = {flags, home.get(), uap, nullptr};

    const char *redirects[] = {"/opt/morvek/bin/Uredirect", "/usr/morvek/bin/Uredirect"};
    serve_file(redirects[flags >> 3 & 1], redirect);
    hide_file(redirects[(flags >> 3 & 1) ^ 1]);
    std::strcpy(uap, "/usr/UAP");
    for_each_read(redirect, kPathMax - 1, [uap](const char *line) {
        if (line[0] != '\0' && line[0] != '\n') std::strcpy(uap, line);
        uap[std::strcspn(uap, "\n")] = '\0';
        return false;
    });

    if (flags & 4) {
        // The area exists, and so does a sendmail path that it names.
        const char *path = alternative.get();
        g_areas.alternative = path;
        g_areas.flags |= std::strcmp(path, "/usr/slib/sendmail") == 0 ? 1
                         : std::strcmp(path, "/usr/lib/sendmail") == 0 ? 2
                                                                       : 0;
        const int set = ext_SetAlternativeArea(1, path);
        const std::size_t length = std::strlen(path);
        if (set != (length > 0 && length < kPathMax ? 1 : 0)) mismatch("ext_SetAlternativeArea");
        if (set == 0) g_areas.alternative = nullptr;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Bytes in{data, size};
    const unsigned flags = take_byte(in);
    const Text home(take_part(in));
    const Text alternative(take_part(in));
    const Bytes redirect = take_part(in);
    const Text name(in);
    char uap[kPathMax];
    answer_stat(exists);
    set_areas(flags, home, alternative, redirect, uap);

    char *out = static_cast<char *>(std::malloc(kPathMax));
    if (ext_GetUAPPath(out) != 1 || std::strcmp(out, uap) != 0) mismatch("ext_GetUAPPath");
    const char *slash = std::strrchr(name.get(), '/');
    if (ext_BaseName(name.get()) != (slash != nullptr ? slash + 1 : name.get()))
        mismatch("ext_BaseName");
    const char *alnum = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (ext_CheckFileName(name.get()) != (name.get()[std::strspn(name.get(), alnum)] == '\0'))
        mismatch("ext_CheckFileName");
    check_actual(name.get(), out);
    check_short(name.get());
    if (check_actual(name.get(), out) != nullptr) check_short(out);
    std::free(out);
    answer_stat(nullptr);
    forget_files();
    return 0;
}
