#pragma once
// A single value that two threads share without ordering: one thread stores, another loads,
// and a reader may see the old or the new value but never a torn one. Every access is a
// relaxed atomic, which on the platforms we build for compiles to a plain load or store, so
// it costs the audio thread nothing; unlike a plain field it is defined behaviour in the C++
// memory model and race detectors accept it.
//
// Reads and writes look like those of the plain value (`x = 1.0f; float y = x;`); read-modify
// writes (`+=`, `++`) are a load and a store, meant for a field only one thread writes.

#include <atomic>

namespace tarvo {

template <typename T> class Relaxed {
public:
    static_assert(std::atomic<T>::is_always_lock_free, "shared values must be lock-free");

    constexpr Relaxed(T initial = T{}) noexcept : value_(initial) {}
    Relaxed(const Relaxed& other) noexcept : value_(other.load()) {}
    Relaxed& operator=(const Relaxed& other) noexcept {
        store(other.load());
        return *this;
    }
    Relaxed& operator=(T x) noexcept {
        store(x);
        return *this;
    }
    Relaxed& operator+=(T x) noexcept {
        store(load() + x);
        return *this;
    }
    Relaxed& operator-=(T x) noexcept {
        store(load() - x);
        return *this;
    }
    Relaxed& operator++() noexcept { return *this += T{1}; }
    Relaxed& operator--() noexcept { return *this -= T{1}; }

    T load() const noexcept { return value_.load(std::memory_order_relaxed); }
    void store(T x) noexcept { value_.store(x, std::memory_order_relaxed); }
    operator T() const noexcept { return load(); }

private:
    std::atomic<T> value_;
};

} // namespace tarvo
