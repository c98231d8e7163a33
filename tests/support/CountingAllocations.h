#pragma once

// Include from exactly one file of a test binary: it replaces the global
// allocation functions of that binary with ones that count every allocation,
// the library's included.

#include <atomic>
#include <cstdlib>
#include <new>

namespace oxtest {
inline std::atomic<long> allocationCount{0};
} // namespace oxtest

// GCC pairs these replacements with its built-in knowledge of new and delete
// and warns that free() meets a pointer from operator new: here both are ours.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// The standard library's array forms forward to these.
void* operator new(std::size_t size) {
    oxtest::allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

#pragma GCC diagnostic pop
