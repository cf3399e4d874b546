// Opening a path below an installation area without following a planted link.
#pragma once

#include <cstddef>

#include "internal/walk.h"

namespace hvchown {

// Opens path, which lies inside area (area_length characters of it, no trailing
// slash), as an O_PATH descriptor: the area itself is resolved as the installation
// names it, no component below it may be a symbolic link (ELOOP). When path names
// the area itself, the area's own last component must not be a link either.
// On failure the descriptor is empty and errno says why.
hv::PathFd open_below(const char *area, std::size_t area_length, const char *path);

}  // namespace hvchown
