// A set of mutexes created together, once per process, through the platform call
// layer, by whichever of their users comes first; never destroyed, since a mutex
// in use by another thread at exit must stay valid. The library has two: the
// library mutex set (internal/library_mutexes.cpp) and the settings store's.
#pragma once

#include <atomic>
#include <cstddef>
#include <pthread.h>

#include "sxl.h"

namespace hv {

template <std::size_t N>
class MutexSet {
public:
    // The mutex at index, once the set is created. create runs create_all() on this
    // set; the once-control takes a plain function, hence the indirection.
    pthread_mutex_t &get(std::size_t index, void (*create)()) noexcept {
        sxl_pthread_once(&once_, create);
        Slot &slot = slots_[index];
        return slot.created.load(std::memory_order_acquire) ? slot.mutex : slot.fallback;
    }

    // Initialises every mutex with default (non-recursive) attributes. Only through
    // the once-control.
    void create_all() noexcept {
        // An attribute object that failed to initialise holds garbage that must not
        // reach pthread_mutex_init: null asks for the same defaults.
        pthread_mutexattr_t attr;
        const bool have_attr = sxl_pthread_mutexattr_init(&attr) == 0;
        for (Slot &slot : slots_)
            if (sxl_pthread_mutex_init(&slot.mutex, have_attr ? &attr : nullptr) == 0)
                slot.created.store(true, std::memory_order_release);
        if (have_attr) sxl_pthread_mutexattr_destroy(&attr);
    }

private:
    // A mutex that could not be created, or a set whose once-control failed, falls
    // back on a statically initialised twin with the same default attributes. The
    // created mutex is never statically initialised as well: initialising one that
    // is already initialised is undefined.
    struct Slot {
        pthread_mutex_t mutex{};
        pthread_mutex_t fallback = PTHREAD_MUTEX_INITIALIZER;
        std::atomic<bool> created{false};
    };

    pthread_once_t once_ = PTHREAD_ONCE_INIT;
    Slot slots_[N];
};

}  // namespace hv
