// The program's operator new and operator delete, counted per thread.
//
// A program that links AllocationCounter.cpp replaces the global operator
// new and delete (every form) with forwarders to the C library that count
// the calls of the thread that asked, and can make one of them fail.
// Sanitizer builds bring their own operator new: there nothing is replaced
// and available() is false.
#pragma once

namespace test_kit::allocation_counter {

struct Counts {
  long allocations = 0;  // operator new calls
  long frees = 0;        // operator delete calls with a non-null pointer
};

bool available();

// Counts this thread's calls from zero until stop().
void start();
Counts stop();

// The (n+1)-th operator new of this thread from now fails: the nothrow forms
// return null, the others throw std::bad_alloc. -1: none fails.
void failAfter(long n);
// Whether a failure was injected since the last failAfter().
bool failed();

// Called on every operator new (true) and delete of a non-null pointer
// (false) on any thread, counted or not: for probes that keep counts of
// their own. Set once, before other threads run.
using Observer = void (*)(bool allocation);
void observe(Observer observer);

}  // namespace test_kit::allocation_counter
