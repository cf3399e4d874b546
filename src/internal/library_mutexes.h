// The library mutex set: three mutexes created together, once per process, by
// whichever of their users comes first. No routine holds two of them at once.
#pragma once

#include <pthread.h>

namespace hv {

enum class LibraryMutex { kHomeArea, kPlayPen, kUapArea, kCount };

// The mutex, created with default (non-recursive) attributes on first use.
pthread_mutex_t &library_mutex(LibraryMutex which) noexcept;

}  // namespace hv
