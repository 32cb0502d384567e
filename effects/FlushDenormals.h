#pragma once
// Keeps denormal numbers out of a scope's arithmetic: decaying feedback tails would otherwise
// sink into the denormal range and cost many times more per sample than the signal did.
// Effect units open one in `process`, so they stay fast even when a caller has not set the
// flags for the block.

#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define TARVO_FLUSH_DENORMALS_SSE 1
#elif defined(__aarch64__)
#include <cstdint>
#define TARVO_FLUSH_DENORMALS_ARM64 1
#endif

namespace tarvo {

class ScopedFlushDenormals {
public:
#if defined(TARVO_FLUSH_DENORMALS_SSE)
    // Flush-to-zero (bit 15) and denormals-are-zero (bit 6) of the SSE control register.
    static constexpr unsigned flushBits = 0x8040u;
    ScopedFlushDenormals() noexcept : saved(_mm_getcsr()) {
        _mm_setcsr(saved | flushBits);
    }
    ~ScopedFlushDenormals() {
        _mm_setcsr(saved);
    }

private:
    unsigned saved;
#elif defined(TARVO_FLUSH_DENORMALS_ARM64)
    // Flush-to-zero bit of the floating-point control register.
    static constexpr uint64_t flushBit = uint64_t{1} << 24;
    ScopedFlushDenormals() noexcept {
        asm volatile("mrs %0, fpcr" : "=r"(saved));
        asm volatile("msr fpcr, %0" : : "r"(saved | flushBit));
    }
    ~ScopedFlushDenormals() {
        asm volatile("msr fpcr, %0" : : "r"(saved));
    }

private:
    uint64_t saved;
#else
    ScopedFlushDenormals() noexcept {}
#endif

public:
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;
};

} // namespace tarvo
