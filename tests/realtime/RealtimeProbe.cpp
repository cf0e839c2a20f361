// Counting forwarders for the allocator, the locks and the blocking calls of
// the C library. The program exports them (ENABLE_EXPORTS), so calls from its
// shared libraries reach them too. The allocator forwards to glibc's
// __libc_* entry points; everything else to the next definition (RTLD_NEXT),
// looked up before main and again on demand for calls made earlier.
#include "RealtimeProbe.h"

#include "support/AllocationCounter.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QS_PROBE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QS_PROBE 0
#endif
#endif
#ifndef QS_PROBE
#define QS_PROBE 1
#endif

#include <string>

namespace realtime_probe {

Counts& Counts::operator+=(const Counts& more) {
  allocations += more.allocations;
  frees += more.frees;
  locks += more.locks;
  blocking += more.blocking;
  if (firstCall == nullptr) firstCall = more.firstCall;
  return *this;
}

std::string describe(const Counts& c) {
  return std::to_string(c.allocations) + " allocations, " + std::to_string(c.frees) + " frees, " +
         std::to_string(c.locks) + " locks, " + std::to_string(c.blocking) + " blocking calls" +
         (c.firstCall != nullptr ? std::string(" (first: ") + c.firstCall + ")" : "");
}

}  // namespace realtime_probe

#if !QS_PROBE

namespace realtime_probe {
bool available() { return false; }
void watch() {}
Counts unwatch() { return {}; }
}  // namespace realtime_probe

#else

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void* __libc_valloc(size_t);
void* __libc_pvalloc(size_t);
void __libc_free(void*);
}

namespace {

// Plain thread-local data: reading it allocates nothing.
thread_local bool tWatching = false;
thread_local realtime_probe::Counts tCounts;

enum class Kind { Allocation, Free, Lock, Blocking };

inline void note(Kind kind, const char* name) {
  if (!tWatching) return;
  switch (kind) {
    case Kind::Allocation: ++tCounts.allocations; break;
    case Kind::Free: ++tCounts.frees; break;
    case Kind::Lock: ++tCounts.locks; break;
    case Kind::Blocking: ++tCounts.blocking; break;
  }
  if (tCounts.firstCall == nullptr) tCounts.firstCall = name;
}

template <typename F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Looks the forwarded function up on first use. The pointer is constant
// initialised: a guarded static would itself lock or wait on a futex.
#define QS_FORWARD_AS(name, type)  \
  static type real = nullptr;      \
  if (real == nullptr) real = next<type>(#name)
#define QS_FORWARD(name) QS_FORWARD_AS(name, decltype(&::name))

// The variadic ones, named so that the macro sees one argument.
using SyscallFunction = long (*)(long, ...);
using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);

}  // namespace

namespace realtime_probe {

bool available() { return true; }

void watch() {
  tCounts = Counts{};
  tWatching = true;
}

Counts unwatch() {
  tWatching = false;
  return tCounts;
}

}  // namespace realtime_probe

extern "C" {

// Allocation.
void* malloc(size_t size) {
  note(Kind::Allocation, "malloc");
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  note(Kind::Allocation, "calloc");
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
  note(Kind::Allocation, "realloc");
  return __libc_realloc(p, size);
}
void free(void* p) {
  if (p != nullptr) note(Kind::Free, "free");
  __libc_free(p);
}
void* memalign(size_t alignment, size_t size) {
  note(Kind::Allocation, "memalign");
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  note(Kind::Allocation, "aligned_alloc");
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  note(Kind::Allocation, "posix_memalign");
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void* valloc(size_t size) {
  note(Kind::Allocation, "valloc");
  return __libc_valloc(size);
}
void* pvalloc(size_t size) {
  note(Kind::Allocation, "pvalloc");
  return __libc_pvalloc(size);
}

// Locks.
int pthread_mutex_lock(pthread_mutex_t* m) {
  note(Kind::Lock, "pthread_mutex_lock");
  QS_FORWARD(pthread_mutex_lock);
  return real(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
  note(Kind::Lock, "pthread_mutex_trylock");
  QS_FORWARD(pthread_mutex_trylock);
  return real(m);
}
int pthread_mutex_timedlock(pthread_mutex_t* m, const struct timespec* t) {
  note(Kind::Lock, "pthread_mutex_timedlock");
  QS_FORWARD(pthread_mutex_timedlock);
  return real(m, t);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
  note(Kind::Lock, "pthread_rwlock_rdlock");
  QS_FORWARD(pthread_rwlock_rdlock);
  return real(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
  note(Kind::Lock, "pthread_rwlock_wrlock");
  QS_FORWARD(pthread_rwlock_wrlock);
  return real(l);
}
int pthread_rwlock_tryrdlock(pthread_rwlock_t* l) {
  note(Kind::Lock, "pthread_rwlock_tryrdlock");
  QS_FORWARD(pthread_rwlock_tryrdlock);
  return real(l);
}
int pthread_rwlock_trywrlock(pthread_rwlock_t* l) {
  note(Kind::Lock, "pthread_rwlock_trywrlock");
  QS_FORWARD(pthread_rwlock_trywrlock);
  return real(l);
}
int pthread_spin_lock(pthread_spinlock_t* l) {
  note(Kind::Lock, "pthread_spin_lock");
  QS_FORWARD(pthread_spin_lock);
  return real(l);
}

// Waiting and sleeping.
int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
  note(Kind::Blocking, "pthread_cond_wait");
  QS_FORWARD(pthread_cond_wait);
  return real(c, m);
}
int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const struct timespec* t) {
  note(Kind::Blocking, "pthread_cond_timedwait");
  QS_FORWARD(pthread_cond_timedwait);
  return real(c, m, t);
}
int pthread_cond_clockwait(pthread_cond_t* c, pthread_mutex_t* m, clockid_t clock, const struct timespec* t) {
  note(Kind::Blocking, "pthread_cond_clockwait");
  QS_FORWARD(pthread_cond_clockwait);
  return real(c, m, clock, t);
}
int nanosleep(const struct timespec* t, struct timespec* rest) {
  note(Kind::Blocking, "nanosleep");
  QS_FORWARD(nanosleep);
  return real(t, rest);
}
int clock_nanosleep(clockid_t clock, int flags, const struct timespec* t, struct timespec* rest) {
  note(Kind::Blocking, "clock_nanosleep");
  QS_FORWARD(clock_nanosleep);
  return real(clock, flags, t, rest);
}
int usleep(useconds_t micros) {
  note(Kind::Blocking, "usleep");
  QS_FORWARD(usleep);
  return real(micros);
}
unsigned int sleep(unsigned int seconds) {
  note(Kind::Blocking, "sleep");
  QS_FORWARD(sleep);
  return real(seconds);
}
int sched_yield() {
  note(Kind::Blocking, "sched_yield");
  QS_FORWARD(sched_yield);
  return real();
}
long syscall(long number, ...) {
  note(Kind::Blocking, "syscall");
  va_list args;
  va_start(args, number);
  long a[6];
  for (long& value : a) value = va_arg(args, long);
  va_end(args);
  QS_FORWARD_AS(syscall, SyscallFunction);
  return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

// Input and output.
ssize_t read(int fd, void* data, size_t size) {
  note(Kind::Blocking, "read");
  QS_FORWARD(read);
  return real(fd, data, size);
}
ssize_t write(int fd, const void* data, size_t size) {
  note(Kind::Blocking, "write");
  QS_FORWARD(write);
  return real(fd, data, size);
}
int open(const char* path, int flags, ...) {
  note(Kind::Blocking, "open");
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  QS_FORWARD_AS(open, OpenFunction);
  return real(path, flags, mode);
}
int openat(int dir, const char* path, int flags, ...) {
  note(Kind::Blocking, "openat");
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  QS_FORWARD_AS(openat, OpenAtFunction);
  return real(dir, path, flags, mode);
}
FILE* fopen(const char* path, const char* mode) {
  note(Kind::Blocking, "fopen");
  QS_FORWARD(fopen);
  return real(path, mode);
}
size_t fwrite(const void* data, size_t size, size_t count, FILE* file) {
  note(Kind::Blocking, "fwrite");
  QS_FORWARD(fwrite);
  return real(data, size, count, file);
}
size_t fread(void* data, size_t size, size_t count, FILE* file) {
  note(Kind::Blocking, "fread");
  QS_FORWARD(fread);
  return real(data, size, count, file);
}
int fflush(FILE* file) {
  note(Kind::Blocking, "fflush");
  QS_FORWARD(fflush);
  return real(file);
}
int poll(struct pollfd* fds, nfds_t count, int timeout) {
  note(Kind::Blocking, "poll");
  QS_FORWARD(poll);
  return real(fds, count, timeout);
}
int select(int n, fd_set* r, fd_set* w, fd_set* e, struct timeval* timeout) {
  note(Kind::Blocking, "select");
  QS_FORWARD(select);
  return real(n, r, w, e, timeout);
}

}  // extern "C"

// operator new and delete, counted once (they do not go through malloc and
// free above).
namespace {

void noteOperator(bool allocation) {
  note(allocation ? Kind::Allocation : Kind::Free, allocation ? "operator new" : "operator delete");
}

[[maybe_unused]] const bool kObservingOperators = (test_kit::allocation_counter::observe(noteOperator), true);

}  // namespace

#endif
