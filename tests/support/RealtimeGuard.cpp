#include "support/RealtimeGuard.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

// A sanitizer's runtime replaces the C allocator itself and calls it while it starts up, before
// anything here could run safely: under a sanitizer only operator new and delete are counted.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARVO_GUARD_COUNTS_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TARVO_GUARD_COUNTS_MALLOC 0
#endif
#endif
#ifndef TARVO_GUARD_COUNTS_MALLOC
#define TARVO_GUARD_COUNTS_MALLOC 1
#endif

// Everything in this file runs inside allocation and locking paths, possibly before main and
// while a sanitizer starts up: no allocation, no function-local statics (their guards may
// lock), and forwarding never re-enters the interposed functions.

namespace tarvo::testsupport {

namespace {

constexpr int kindCount = static_cast<int>(Violation::count);

// Depth of nested audio-thread scopes on this thread. Initial-exec TLS: reading it never
// allocates, even on a thread's first access.
__attribute__((tls_model("initial-exec"))) thread_local int scopeDepth = 0;

std::atomic<int64_t> counts[kindCount] = {};
std::atomic<const char*> firstCallName{nullptr};
std::atomic<Violation> firstKind{Violation::count};

bool insideScope() {
    return scopeDepth > 0;
}

void noteViolation(Violation kind, const char* call) {
    if (!insideScope()) return;
    counts[static_cast<int>(kind)].fetch_add(1, std::memory_order_relaxed);
    const char* expected = nullptr;
    if (firstCallName.compare_exchange_strong(expected, call)) firstKind.store(kind);
    const char* trap = std::getenv("TARVO_RT_TRAP");
    if (trap != nullptr && trap[0] == '1') __builtin_trap();
}

// The next definition of an interposed C function. A sanitizer runtime linked into the
// binary defines its own interceptor of the same name, which this file's definition hides;
// forwarding to the interceptor keeps the sanitizer informed (ThreadSanitizer must see
// every lock). Otherwise the C library's definition is next.
void* nextDefinition(const char* interceptorName, const char* newInterceptorName, const char* name) {
    if (void* interceptor = dlsym(RTLD_DEFAULT, interceptorName)) return interceptor;
    if (void* interceptor = dlsym(RTLD_DEFAULT, newInterceptorName)) return interceptor;
    return dlsym(RTLD_NEXT, name);
}

// Looks the real function up once; a racing first lookup just stores the same pointer twice.
// The pointer type is spelled out: decltype of a C library function would carry attributes.
template <typename Fn> struct RealFunction {
    std::atomic<Fn> resolved{nullptr};
    const char* interceptorName;
    const char* newInterceptorName;
    const char* name;

    Fn get() {
        Fn fn = resolved.load(std::memory_order_relaxed);
        if (fn == nullptr) {
            fn = reinterpret_cast<Fn>(nextDefinition(interceptorName, newInterceptorName, name));
            resolved.store(fn, std::memory_order_relaxed);
        }
        return fn;
    }
};

#define TARVO_REAL(name, Fn)                                                                                 \
    ([]() {                                                                                                  \
        static constinit tarvo::testsupport::RealFunction<Fn> real{                                          \
            {nullptr}, "__interceptor_" #name, "___interceptor_" #name, #name};                              \
        return real.get();                                                                                   \
    }())

} // namespace

} // namespace tarvo::testsupport

#if TARVO_GUARD_COUNTS_MALLOC
// The C library's allocator, under the names it exports for a program that replaces malloc.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);
void* __libc_memalign(size_t alignment, size_t size);
}
#endif

namespace tarvo::testsupport {

namespace {

#if TARVO_GUARD_COUNTS_MALLOC
void* realMalloc(std::size_t size) {
    return __libc_malloc(size);
}
void* realCalloc(std::size_t count, std::size_t size) {
    return __libc_calloc(count, size);
}
void* realRealloc(void* p, std::size_t size) {
    return __libc_realloc(p, size);
}
void realFree(void* p) {
    __libc_free(p);
}
// The alignment is a power of two and a multiple of the pointer size; returns 0 or an errno
// value.
int realPosixMemalign(void** p, std::size_t alignment, std::size_t size) {
    *p = __libc_memalign(alignment, size);
    return *p != nullptr ? 0 : ENOMEM;
}
#else
void* realMalloc(std::size_t size) {
    return std::malloc(size);
}
void realFree(void* p) {
    std::free(p);
}
int realPosixMemalign(void** p, std::size_t alignment, std::size_t size) {
    return posix_memalign(p, alignment, size);
}
#endif

void* allocate(std::size_t size) {
    noteViolation(Violation::allocation, "operator new");
    return realMalloc(size == 0 ? 1 : size);
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    noteViolation(Violation::allocation, "operator new (aligned)");
    const std::size_t align = static_cast<std::size_t>(alignment) < sizeof(void*)
                                  ? sizeof(void*)
                                  : static_cast<std::size_t>(alignment);
    void* p = nullptr;
    if (realPosixMemalign(&p, align, size == 0 ? 1 : size) != 0) return nullptr;
    return p;
}

void release(void* p) {
    if (p == nullptr) return;
    noteViolation(Violation::deallocation, "operator delete");
    realFree(p);
}

} // namespace

const char* violationName(Violation kind) {
    switch (kind) {
    case Violation::allocation:
        return "allocation";
    case Violation::deallocation:
        return "deallocation";
    case Violation::mutexLock:
        return "lock or wait";
    case Violation::fileOrConsoleIo:
        return "file or console I/O";
    case Violation::sleep:
        return "sleep";
    case Violation::count:
        break;
    }
    return "none";
}

int64_t RealtimeGuard::total() {
    int64_t sum = 0;
    for (const auto& c : counts) sum += c.load(std::memory_order_relaxed);
    return sum;
}

int64_t RealtimeGuard::count(Violation kind) {
    return counts[static_cast<int>(kind)].load(std::memory_order_relaxed);
}

const char* RealtimeGuard::firstCall() {
    return firstCallName.load();
}

void RealtimeGuard::clear() {
    for (auto& c : counts) c.store(0, std::memory_order_relaxed);
    firstCallName.store(nullptr);
    firstKind.store(Violation::count);
}

void RealtimeGuard::describe(char* text, int capacity) {
    if (capacity <= 0) return;
    const char* first = firstCall();
    std::snprintf(text, static_cast<std::size_t>(capacity), "%lld violation(s), first: %s (%s)",
                  static_cast<long long>(total()), first != nullptr ? first : "none",
                  violationName(firstKind.load()));
}

bool RealtimeGuard::active() {
    return insideScope();
}

bool RealtimeGuard::countsCAllocator() {
    return TARVO_GUARD_COUNTS_MALLOC != 0;
}

AudioThreadScope::AudioThreadScope() {
    ++scopeDepth;
}
AudioThreadScope::~AudioThreadScope() {
    --scopeDepth;
}

AllowedScope::AllowedScope() : saved_(scopeDepth) {
    scopeDepth = 0;
}
AllowedScope::~AllowedScope() {
    scopeDepth = saved_;
}

} // namespace tarvo::testsupport

using tarvo::testsupport::noteViolation;

using tarvo::testsupport::Violation;

// ---- Global allocation functions -------------------------------------------------------------

void* operator new(std::size_t size) {
    if (void* p = tarvo::testsupport::allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = tarvo::testsupport::allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return tarvo::testsupport::allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return tarvo::testsupport::allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = tarvo::testsupport::allocateAligned(size, alignment)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    if (void* p = tarvo::testsupport::allocateAligned(size, alignment)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return tarvo::testsupport::allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return tarvo::testsupport::allocateAligned(size, alignment);
}

void operator delete(void* p) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete[](void* p) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    tarvo::testsupport::release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    tarvo::testsupport::release(p);
}

// ---- Interposed C library functions ----------------------------------------------------------

extern "C" {

#if TARVO_GUARD_COUNTS_MALLOC
// The C allocator: the audio thread must not use it any more than operator new. Replacing
// malloc, calloc, realloc and free together (and the aligned forms, which share free) is what
// the C library supports.
void* malloc(size_t size) noexcept {
    noteViolation(Violation::allocation, "malloc");
    return tarvo::testsupport::realMalloc(size);
}
void* calloc(size_t count, size_t size) noexcept {
    noteViolation(Violation::allocation, "calloc");
    return tarvo::testsupport::realCalloc(count, size);
}
void* realloc(void* p, size_t size) noexcept {
    noteViolation(Violation::allocation, "realloc");
    return tarvo::testsupport::realRealloc(p, size);
}
void free(void* p) noexcept {
    if (p == nullptr) return;
    noteViolation(Violation::deallocation, "free");
    tarvo::testsupport::realFree(p);
}
int posix_memalign(void** p, size_t alignment, size_t size) noexcept {
    noteViolation(Violation::allocation, "posix_memalign");
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    return tarvo::testsupport::realPosixMemalign(p, alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) noexcept {
    noteViolation(Violation::allocation, "aligned_alloc");
    return __libc_memalign(alignment, size);
}
#endif

int pthread_mutex_lock(pthread_mutex_t* mutex) {
    noteViolation(Violation::mutexLock, "pthread_mutex_lock");
    return TARVO_REAL(pthread_mutex_lock, int (*)(pthread_mutex_t*))(mutex);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* lock) {
    noteViolation(Violation::mutexLock, "pthread_rwlock_rdlock");
    return TARVO_REAL(pthread_rwlock_rdlock, int (*)(pthread_rwlock_t*))(lock);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* lock) {
    noteViolation(Violation::mutexLock, "pthread_rwlock_wrlock");
    return TARVO_REAL(pthread_rwlock_wrlock, int (*)(pthread_rwlock_t*))(lock);
}
int pthread_cond_wait(pthread_cond_t* condition, pthread_mutex_t* mutex) {
    noteViolation(Violation::mutexLock, "pthread_cond_wait");
    return TARVO_REAL(pthread_cond_wait, int (*)(pthread_cond_t*, pthread_mutex_t*))(condition, mutex);
}

ssize_t write(int fd, const void* data, size_t size) {
    noteViolation(Violation::fileOrConsoleIo, "write");
    return TARVO_REAL(write, ssize_t(*)(int, const void*, size_t))(fd, data, size);
}
ssize_t read(int fd, void* data, size_t size) {
    noteViolation(Violation::fileOrConsoleIo, "read");
    return TARVO_REAL(read, ssize_t(*)(int, void*, size_t))(fd, data, size);
}
int open(const char* path, int flags, ...) {
    noteViolation(Violation::fileOrConsoleIo, "open");
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    return TARVO_REAL(open, int (*)(const char*, int, ...))(path, flags, mode);
}
int open64(const char* path, int flags, ...) {
    noteViolation(Violation::fileOrConsoleIo, "open64");
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    return TARVO_REAL(open64, int (*)(const char*, int, ...))(path, flags, mode);
}
FILE* fopen(const char* path, const char* mode) {
    noteViolation(Violation::fileOrConsoleIo, "fopen");
    return TARVO_REAL(fopen, FILE * (*)(const char*, const char*))(path, mode);
}
FILE* fopen64(const char* path, const char* mode) {
    noteViolation(Violation::fileOrConsoleIo, "fopen64");
    return TARVO_REAL(fopen64, FILE * (*)(const char*, const char*))(path, mode);
}
size_t fwrite(const void* data, size_t size, size_t count, FILE* stream) {
    noteViolation(Violation::fileOrConsoleIo, "fwrite");
    return TARVO_REAL(fwrite, size_t(*)(const void*, size_t, size_t, FILE*))(data, size, count, stream);
}
int fputs(const char* text, FILE* stream) {
    noteViolation(Violation::fileOrConsoleIo, "fputs");
    return TARVO_REAL(fputs, int (*)(const char*, FILE*))(text, stream);
}
int puts(const char* text) {
    noteViolation(Violation::fileOrConsoleIo, "puts");
    return TARVO_REAL(puts, int (*)(const char*))(text);
}
int vfprintf(FILE* stream, const char* format, va_list args) {
    noteViolation(Violation::fileOrConsoleIo, "vfprintf");
    return TARVO_REAL(vfprintf, int (*)(FILE*, const char*, va_list))(stream, format, args);
}
int vprintf(const char* format, va_list args) {
    noteViolation(Violation::fileOrConsoleIo, "vprintf");
    return TARVO_REAL(vfprintf, int (*)(FILE*, const char*, va_list))(stdout, format, args);
}
int fprintf(FILE* stream, const char* format, ...) {
    noteViolation(Violation::fileOrConsoleIo, "fprintf");
    va_list args;
    va_start(args, format);
    const int written = TARVO_REAL(vfprintf, int (*)(FILE*, const char*, va_list))(stream, format, args);
    va_end(args);
    return written;
}
int printf(const char* format, ...) {
    noteViolation(Violation::fileOrConsoleIo, "printf");
    va_list args;
    va_start(args, format);
    const int written = TARVO_REAL(vfprintf, int (*)(FILE*, const char*, va_list))(stdout, format, args);
    va_end(args);
    return written;
}

int nanosleep(const struct timespec* duration, struct timespec* remaining) {
    noteViolation(Violation::sleep, "nanosleep");
    return TARVO_REAL(nanosleep, int (*)(const struct timespec*, struct timespec*))(duration, remaining);
}
int clock_nanosleep(clockid_t clock, int flags, const struct timespec* duration, struct timespec* remaining) {
    noteViolation(Violation::sleep, "clock_nanosleep");
    return TARVO_REAL(clock_nanosleep, int (*)(clockid_t, int, const struct timespec*, struct timespec*))(
        clock, flags, duration, remaining);
}
int usleep(useconds_t microseconds) {
    noteViolation(Violation::sleep, "usleep");
    return TARVO_REAL(usleep, int (*)(useconds_t))(microseconds);
}
unsigned int sleep(unsigned int seconds) {
    noteViolation(Violation::sleep, "sleep");
    return TARVO_REAL(sleep, unsigned int (*)(unsigned int))(seconds);
}

} // extern "C"
