// Path buffers: every path the library reads or writes fits 256 bytes.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace hv {

// Size of every path buffer, the library's own and its callers': 255 characters
// and the NUL.
inline constexpr std::size_t kPathMax = 256;

// Length of a NUL-terminated text, reading no further than one path buffer.
// A result of kPathMax means the text does not fit one.
inline std::size_t path_length(const char *text) noexcept {
    return ::strnlen(text, kPathMax);
}

// Writes head followed by tail into out when both and the NUL fit a path buffer;
// otherwise writes nothing and returns false. tail may lie in out itself (a name
// resolved in place): it is moved before head is written.
inline bool join_path(char *out, std::string_view head, std::string_view tail) noexcept {
    if (head.size() + tail.size() >= kPathMax) return false;
    // An empty view may have no data pointer at all, which memmove must not see.
    if (!tail.empty()) std::memmove(out + head.size(), tail.data(), tail.size());
    if (!head.empty()) std::memmove(out, head.data(), head.size());
    out[head.size() + tail.size()] = '\0';
    return true;
}

// The text as a view, or a view of kPathMax characters when it is too long for a
// path buffer: join_path then refuses it.
inline std::string_view bounded_path(const char *text) noexcept {
    return {text, path_length(text)};
}

}  // namespace hv
