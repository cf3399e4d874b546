#include "internal/library_mutexes.h"

#include "sxl.h"

namespace hv {
namespace {

// Created once through the once-control and never destroyed: a mutex in use by
// another thread at exit must stay valid. Statically initialised as well, so that
// a mutex whose creation failed still works, with the same default attributes.
constinit pthread_once_t g_once = PTHREAD_ONCE_INIT;
constinit pthread_mutex_t g_mutexes[3] = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER,
                                          PTHREAD_MUTEX_INITIALIZER};

void create_mutexes() {
    // An attribute object that failed to initialise holds garbage that must not
    // reach pthread_mutex_init: null asks for the same defaults.
    pthread_mutexattr_t attr;
    const bool have_attr = sxl_pthread_mutexattr_init(&attr) == 0;
    for (pthread_mutex_t &mutex : g_mutexes)
        sxl_pthread_mutex_init(&mutex, have_attr ? &attr : nullptr);
    if (have_attr) sxl_pthread_mutexattr_destroy(&attr);
}

}  // namespace

pthread_mutex_t &library_mutex(LibraryMutex which) noexcept {
    sxl_pthread_once(&g_once, create_mutexes);
    return g_mutexes[static_cast<int>(which)];
}

}  // namespace hv
