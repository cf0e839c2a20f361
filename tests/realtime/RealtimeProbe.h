// Counts what a thread does that an audio callback must not: heap
// allocations and frees, mutex acquisitions and calls that can block
// (sleeping, waiting, yielding, file and socket I/O, futex waits).
//
// The program that links RealtimeProbe.cpp replaces the C allocator,
// operator new and the blocking functions of the C library with counting
// forwarders; counting is per thread and only between watch() and
// unwatch(). Sanitizer builds bring their own allocator, so there the probe
// is inactive (available() is false).
#pragma once

#include <cstdint>
#include <string>

namespace realtime_probe {

struct Counts {
  uint64_t allocations = 0;  // malloc, calloc, realloc, aligned forms, operator new
  uint64_t frees = 0;        // free and operator delete of a non-null pointer
  uint64_t locks = 0;        // mutex lock and try-lock, rwlock, spin lock
  uint64_t blocking = 0;     // sleeps, condition waits, yields, I/O, futex
  // The first counted call, to name a finding.
  const char* firstCall = nullptr;

  uint64_t total() const { return allocations + frees + locks + blocking; }
  // Adds the counts (the first call of the earlier stretch is kept).
  Counts& operator+=(const Counts& more);
};

// "A allocations, F frees, L locks, B blocking calls (first: NAME)".
std::string describe(const Counts& counts);

bool available();

// Starts counting on the calling thread from zero.
void watch();
// Stops counting on the calling thread and returns what was counted.
Counts unwatch();

}  // namespace realtime_probe
