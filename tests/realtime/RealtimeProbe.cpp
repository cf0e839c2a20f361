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

// `ret name(params)`, counted as `kind`, forwarding `args` to the next
// definition; the allocator's forward to glibc's own entry points.
#define QS_COUNTED(kind, ret, name, params, args) \
  ret name params {                               \
    note(Kind::kind, #name);                      \
    QS_FORWARD(name);                             \
    return real args;                             \
  }
#define QS_ALLOCATOR(name, params, args)  \
  void* name params {                     \
    note(Kind::Allocation, #name);        \
    return __libc_##name args;            \
  }

// The variadic ones, named so that the macro sees one argument.
using SyscallFunction = long (*)(long, ...);
using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);

// The mode argument follows the flags only when they create a file.
mode_t modeOf(int flags, va_list args) {
  const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  return creates ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

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
QS_ALLOCATOR(malloc, (size_t size), (size))
QS_ALLOCATOR(calloc, (size_t count, size_t size), (count, size))
QS_ALLOCATOR(realloc, (void* p, size_t size), (p, size))
void free(void* p) {
  if (p != nullptr) note(Kind::Free, "free");
  __libc_free(p);
}
QS_ALLOCATOR(memalign, (size_t alignment, size_t size), (alignment, size))
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
QS_ALLOCATOR(valloc, (size_t size), (size))
QS_ALLOCATOR(pvalloc, (size_t size), (size))

// Locks.
QS_COUNTED(Lock, int, pthread_mutex_lock, (pthread_mutex_t* m), (m))
QS_COUNTED(Lock, int, pthread_mutex_trylock, (pthread_mutex_t* m), (m))
QS_COUNTED(Lock, int, pthread_mutex_timedlock, (pthread_mutex_t* m, const struct timespec* t), (m, t))
QS_COUNTED(Lock, int, pthread_rwlock_rdlock, (pthread_rwlock_t* l), (l))
QS_COUNTED(Lock, int, pthread_rwlock_wrlock, (pthread_rwlock_t* l), (l))
QS_COUNTED(Lock, int, pthread_rwlock_tryrdlock, (pthread_rwlock_t* l), (l))
QS_COUNTED(Lock, int, pthread_rwlock_trywrlock, (pthread_rwlock_t* l), (l))
QS_COUNTED(Lock, int, pthread_spin_lock, (pthread_spinlock_t* l), (l))

// Waiting and sleeping.
QS_COUNTED(Blocking, int, pthread_cond_wait, (pthread_cond_t* c, pthread_mutex_t* m), (c, m))
QS_COUNTED(Blocking, int, pthread_cond_timedwait, (pthread_cond_t* c, pthread_mutex_t* m, const struct timespec* t), (c, m, t))
QS_COUNTED(Blocking, int, pthread_cond_clockwait, (pthread_cond_t* c, pthread_mutex_t* m, clockid_t clock, const struct timespec* t), (c, m, clock, t))
QS_COUNTED(Blocking, int, nanosleep, (const struct timespec* t, struct timespec* rest), (t, rest))
QS_COUNTED(Blocking, int, clock_nanosleep, (clockid_t clock, int flags, const struct timespec* t, struct timespec* rest), (clock, flags, t, rest))
QS_COUNTED(Blocking, int, usleep, (useconds_t micros), (micros))
QS_COUNTED(Blocking, unsigned int, sleep, (unsigned int seconds), (seconds))
QS_COUNTED(Blocking, int, sched_yield, (), ())
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
QS_COUNTED(Blocking, ssize_t, read, (int fd, void* data, size_t size), (fd, data, size))
QS_COUNTED(Blocking, ssize_t, write, (int fd, const void* data, size_t size), (fd, data, size))
int open(const char* path, int flags, ...) {
  note(Kind::Blocking, "open");
  va_list args;
  va_start(args, flags);
  const mode_t mode = modeOf(flags, args);
  va_end(args);
  QS_FORWARD_AS(open, OpenFunction);
  return real(path, flags, mode);
}
int openat(int dir, const char* path, int flags, ...) {
  note(Kind::Blocking, "openat");
  va_list args;
  va_start(args, flags);
  const mode_t mode = modeOf(flags, args);
  va_end(args);
  QS_FORWARD_AS(openat, OpenAtFunction);
  return real(dir, path, flags, mode);
}
QS_COUNTED(Blocking, FILE*, fopen, (const char* path, const char* mode), (path, mode))
QS_COUNTED(Blocking, size_t, fwrite, (const void* data, size_t size, size_t count, FILE* file), (data, size, count, file))
QS_COUNTED(Blocking, size_t, fread, (void* data, size_t size, size_t count, FILE* file), (data, size, count, file))
QS_COUNTED(Blocking, int, fflush, (FILE* file), (file))
QS_COUNTED(Blocking, int, poll, (struct pollfd* fds, nfds_t count, int timeout), (fds, count, timeout))
QS_COUNTED(Blocking, int, select, (int n, fd_set* r, fd_set* w, fd_set* e, struct timeval* timeout), (n, r, w, e, timeout))

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
