#pragma once
// Catches what the audio thread must never do: allocate or free memory, wait on a mutex,
// sleep, or do file and console I/O.
//
// Every test binary links this guard. It replaces the global operator new and delete and,
// except under a sanitizer, the C allocator (malloc, calloc, realloc, free, posix_memalign,
// aligned_alloc); it interposes pthread_mutex_lock and a few C library calls (write, read,
// open, fopen, the stdio writers, the sleeps). Outside an `AudioThreadScope` they simply
// forward; inside one, on that thread only, each call is counted as a violation and still
// carried out, so the test goes on and reports. try_lock stays allowed: the sequencer's
// pattern lock is only ever tried by the audio thread.
//
// Setting the environment variable TARVO_RT_TRAP=1 stops the program at the first
// violation, so that a debugger or a sanitizer shows the offending stack.
//
// Threads: the counters are atomics and may be read from any thread; a scope belongs to the
// thread that opened it. Nothing here allocates.

#include <cstdint>

namespace tarvo::testsupport {

enum class Violation : int { allocation = 0, deallocation, mutexLock, fileOrConsoleIo, sleep, count };

// A fixed text naming the kind ("allocation", "mutex lock" ...).
const char* violationName(Violation kind);

class RealtimeGuard {
public:
    // Violations of every kind since the last `clear`.
    static int64_t total();
    static int64_t count(Violation kind);
    // The first violation since the last `clear` and the intercepted call that raised it
    // ("operator new", "malloc", "pthread_mutex_lock", "fwrite" ...), or null for none.
    static const char* firstCall();
    static void clear();
    // A one-line summary for test failure messages, e.g. "2 allocation (first: operator new)";
    // written into text, always zero-terminated.
    static void describe(char* text, int capacity);
    // Whether the calling thread is inside an audio-thread scope.
    static bool active();
    // Whether malloc and its family are counted: not under a sanitizer, whose runtime owns
    // the C allocator.
    static bool countsCAllocator();
};

// Marks the calling thread as the audio thread for its lifetime; scopes nest.
class AudioThreadScope {
public:
    AudioThreadScope();
    ~AudioThreadScope();
    AudioThreadScope(const AudioThreadScope&) = delete;
    AudioThreadScope& operator=(const AudioThreadScope&) = delete;
};

// Lifts the audio-thread rules for its lifetime on the calling thread (for a test's own
// bookkeeping inside a scope, e.g. a failing assertion's message).
class AllowedScope {
public:
    AllowedScope();
    ~AllowedScope();
    AllowedScope(const AllowedScope&) = delete;
    AllowedScope& operator=(const AllowedScope&) = delete;

private:
    int saved_;
};

} // namespace tarvo::testsupport
