// The lines of the suite's key files ("~/sys/general.cfg", "~/sys/TimeZoneMap",
// "/etc/timezone") as every reader of them takes them, hvext's listing included:
// read 1,022 characters at a time, so that a longer line arrives as several lines,
// each taken by itself; a line that begins with "#", a blank, a control byte or a
// byte of 0x80 or above is skipped; the rest are cut at their first newline and
// nothing else is trimmed. Header-only and free of the platform layer, so that the
// tools can share it through the public interface alone.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hv::lines {

// fgets with a limit of one less than the buffer: 1,022 characters per read.
inline constexpr int kLineBuffer = 1024;
inline constexpr int kReadLimit = kLineBuffer - 1;
using LineBuffer = char[kLineBuffer];

inline bool skipped(const char *line) noexcept {
    // The first byte as the suite's signed char: bytes of 0x80 and up are negative.
    const auto first = static_cast<signed char>(line[0]);
    return first == '#' || first <= ' ';
}

// The text of a line that is read, cut in place at its first newline; null for a
// skipped line. A carriage return before the newline stays part of the text.
inline char *text_of(char *line) noexcept {
    if (skipped(line)) return nullptr;
    if (char *newline = std::strchr(line, '\n')) *newline = '\0';
    return line;
}

// The text of the next line that is read, or null at the end of the file. gets is
// sxl_fgets in the library and the C library's fgets in the tools.
template <auto gets>
char *next_text(std::FILE *file, LineBuffer &line) noexcept {
    while (gets(line, kReadLimit, file) != nullptr)
        if (char *text = text_of(line)) return text;
    return nullptr;
}

// A key=value text split in place at its first "=": the value may be empty and may
// hold further "=". False, and the text unchanged, without "=" or with an empty key.
struct Setting {
    char *key;
    char *value;
};

inline bool split_setting(char *text, Setting &setting) noexcept {
    char *equals = std::strchr(text, '=');
    if (equals == nullptr || equals == text) return false;
    *equals = '\0';
    setting = {text, equals + 1};
    return true;
}

// A value of "~/sys/general.cfg" as it is meant: "_" stands for a space there. Keys
// keep their underscores.
inline void spaces_for_underscores(char *value) noexcept {
    std::replace(value, value + std::strlen(value), '_', ' ');
}

}  // namespace hv::lines
