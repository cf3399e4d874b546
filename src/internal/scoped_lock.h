// A mutex held for one scope, through the platform call layer.
#pragma once

#include <pthread.h>

#include "sxl.h"

namespace hv {

class ScopedLock {
public:
    explicit ScopedLock(pthread_mutex_t &mutex) noexcept
        : mutex_(&mutex), held_(sxl_pthread_mutex_lock(mutex_) == 0) {}
    ~ScopedLock() { unlock(); }
    ScopedLock(const ScopedLock &) = delete;
    ScopedLock &operator=(const ScopedLock &) = delete;

    // Releases the mutex before the scope ends (before the process exits, say).
    void unlock() noexcept {
        if (held_) sxl_pthread_mutex_unlock(mutex_);
        held_ = false;
    }

private:
    pthread_mutex_t *mutex_;
    bool held_;
};

}  // namespace hv
