// Names and values as the tools' messages quote them: a name may hold any byte but
// NUL, and one holding a newline, ESC or a C1 control such as 0x9B would otherwise
// write terminal sequences into whatever shows or keeps the messages. Printable
// ASCII stays as it is; a backslash becomes "\\"; newline, tab and carriage return
// become "\n", "\t", "\r"; every other byte becomes "\xhh". Bytes of 0x80 and above
// are all escaped, not only the C1 controls: the tools run in the C locale, where
// none of them is a printable character, and a log read later under another
// character set must not turn them into controls. The escaped text is plain ASCII
// and tells back every byte of the name.
#pragma once

#include <cstddef>
#include <cstdio>

namespace hvtools {

// The longest escape of one byte: "\xhh".
inline constexpr std::size_t kMaxEscape = 4;

// Writes the form of c that a message shows into out; returns its length.
inline std::size_t escape_byte(unsigned char c, char *out) {
    static constexpr char kHex[] = "0123456789abcdef";
    char named = '\0';
    switch (c) {
        case '\\': named = '\\'; break;
        case '\n': named = 'n'; break;
        case '\t': named = 't'; break;
        case '\r': named = 'r'; break;
    }
    if (named != '\0') {
        out[0] = '\\';
        out[1] = named;
        return 2;
    }
    if (c >= 0x20 && c < 0x7F) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    out[0] = '\\';
    out[1] = 'x';
    out[2] = kHex[c >> 4];
    out[3] = kHex[c & 0xF];
    return kMaxEscape;
}

// Writes text to the stream, escaped; a chunk at a time, so that a short name
// reaches an unbuffered stderr in one write.
inline void put_quoted(std::FILE *stream, const char *text) {
    char chunk[256];
    std::size_t used = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (used > sizeof chunk - kMaxEscape) {
            std::fwrite(chunk, 1, used, stream);
            used = 0;
        }
        used += escape_byte(static_cast<unsigned char>(*p), chunk + used);
    }
    if (used > 0) std::fwrite(chunk, 1, used, stream);
}

}  // namespace hvtools
