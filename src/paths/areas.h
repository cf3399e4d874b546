// The installation areas as the token routines use them: each area written into a
// path buffer followed by the rest of a name, or nothing written when the two
// would not fit the buffer.
#pragma once

#include <string_view>

namespace hv::paths {

// The home area followed by tail. Ends the process (status 98) when the
// installation has no home area.
bool join_home(char *out, std::string_view tail) noexcept;
// The UAP area followed by tail.
bool join_uap(char *out, std::string_view tail) noexcept;
// Alternative area `slot` followed by tail; false as well when the slot is empty.
bool join_alternative(int slot, char *out, std::string_view tail) noexcept;

}  // namespace hv::paths
