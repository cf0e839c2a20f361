#include "AllocationCounter.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QS_COUNTING_NEW 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QS_COUNTING_NEW 0
#endif
#endif
#ifndef QS_COUNTING_NEW
#define QS_COUNTING_NEW 1
#endif

#include <cstddef>
#include <new>

namespace test_kit::allocation_counter {
namespace {

// Plain thread-local data: reading it allocates nothing.
thread_local bool tCounting = false;
thread_local Counts tCounts;
thread_local long tFailAfter = -1;
thread_local bool tFailed = false;
Observer gObserver = nullptr;

}  // namespace

bool available() { return QS_COUNTING_NEW != 0; }

void start() {
  tCounts = Counts{};
  tCounting = true;
}

Counts stop() {
  tCounting = false;
  return tCounts;
}

void failAfter(long n) {
  tFailAfter = n;
  tFailed = false;
}

bool failed() { return tFailed; }

void observe(Observer observer) { gObserver = observer; }

}  // namespace test_kit::allocation_counter

#if QS_COUNTING_NEW

// glibc's own entry points: a program may replace malloc itself (to count
// it), and operator new must not be counted twice through it.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

using namespace test_kit::allocation_counter;

// Null for an injected failure.
void* allocate(std::size_t size, std::size_t alignment) noexcept {
  if (gObserver != nullptr) gObserver(true);
  if (tCounting) ++tCounts.allocations;
  if (tFailAfter == 0) {
    tFailAfter = -1;
    tFailed = true;
    return nullptr;
  }
  if (tFailAfter > 0) --tFailAfter;
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t)) return __libc_malloc(size);
  return __libc_memalign(alignment, size);
}

void* allocateOrThrow(std::size_t size, std::size_t alignment) {
  void* p = allocate(size, alignment);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void release(void* p) noexcept {
  if (p != nullptr) {
    if (gObserver != nullptr) gObserver(false);
    if (tCounting) ++tCounts.frees;
  }
  __libc_free(p);
}

}  // namespace

void* operator new(std::size_t n) { return allocateOrThrow(n, 0); }
void* operator new[](std::size_t n) { return allocateOrThrow(n, 0); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, 0); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) { return allocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocateOrThrow(n, static_cast<std::size_t>(a)); }
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate(n, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }

#endif
