#pragma once

// Include from exactly one file of a test binary (linked with -ldl): it puts a
// counting pthread_mutex_lock before the C library's, so that every lock a
// std::mutex takes, the library's included, is counted.

#include <atomic>

#include <dlfcn.h>
#include <pthread.h>

namespace oxtest {
inline std::atomic<long> lockCount{0};
} // namespace oxtest

// std::mutex locks through this; the executable's definition comes first.
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    using Lock = int (*)(pthread_mutex_t*);
    static const Lock next = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    oxtest::lockCount.fetch_add(1, std::memory_order_relaxed);
    return next(mutex);
}
