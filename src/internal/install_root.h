// The installation root, named once: the fixed paths under it are spelled from it
// when the library is compiled, so that a move of the root is one change.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace hv {

inline constexpr std::string_view kInstallRoot = "/opt/morvek";

// The root followed by tail ("/bin/..."), NUL-terminated, for a constant path.
template <std::size_t N>
consteval std::array<char, kInstallRoot.size() + N> under_install_root(const char (&tail)[N]) {
    std::array<char, kInstallRoot.size() + N> path{};
    std::copy_n(kInstallRoot.begin(), kInstallRoot.size(), path.begin());
    std::copy_n(tail, N, path.begin() + kInstallRoot.size());
    return path;
}

}  // namespace hv
