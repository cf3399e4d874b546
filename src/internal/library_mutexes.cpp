#include "internal/library_mutexes.h"

#include <cstddef>

#include "internal/mutex_set.h"

namespace hv {
namespace {

constinit MutexSet<static_cast<std::size_t>(LibraryMutex::kCount)> g_mutexes;

void create_mutexes() { g_mutexes.create_all(); }

}  // namespace

pthread_mutex_t &library_mutex(LibraryMutex which) noexcept {
    return g_mutexes.get(static_cast<std::size_t>(which), create_mutexes);
}

}  // namespace hv
