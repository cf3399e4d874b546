#include "internal/library_mutexes.h"

#include "sxl.h"

namespace hv {
namespace {

// Created once through the once-control and never destroyed: a mutex in use by
// another thread at exit must stay valid.
constinit pthread_once_t g_once = PTHREAD_ONCE_INIT;
constinit pthread_mutex_t g_mutexes[3] = {};

void create_mutexes() {
    pthread_mutexattr_t attr;
    sxl_pthread_mutexattr_init(&attr);
    for (pthread_mutex_t &mutex : g_mutexes) sxl_pthread_mutex_init(&mutex, &attr);
    sxl_pthread_mutexattr_destroy(&attr);
}

}  // namespace

pthread_mutex_t &library_mutex(LibraryMutex which) noexcept {
    sxl_pthread_once(&g_once, create_mutexes);
    return g_mutexes[static_cast<int>(which)];
}

}  // namespace hv
