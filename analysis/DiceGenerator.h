#pragma once
// The dice's random numbers: a two-shift xorshift generator on 32 bits. A random kit draws
// from a fresh generator seeded from the process clock, so two dice rolls differ while one
// roll is reproducible from its seed.
//
// Any thread; never allocates. One object belongs to one caller.

#include <cstdint>
#include <ctime>

namespace tarvo {

class DiceGenerator {
public:
    // Stands in for a seed of 0, which xorshift would keep at 0 for ever.
    static constexpr uint32_t zeroSeedReplacement = 0x9e3779b9u;
    // Scales a 32-bit draw into [0, 1).
    static constexpr float uniformScale = 2.3283e-10f;

    explicit DiceGenerator(uint32_t seed) : state_(seed != 0 ? seed : zeroSeedReplacement) {}

    // Seeded from the C library's clock, as the dice button does.
    static DiceGenerator fromClock() { return DiceGenerator(static_cast<uint32_t>(std::clock())); }

    // One step; returns the new state.
    uint32_t next() {
        state_ ^= state_ << 5;
        state_ ^= state_ >> 7;
        return state_;
    }

    // One step as a single-precision number in [0, 1).
    float uniform() { return static_cast<float>(next()) * uniformScale; }

    uint32_t state() const { return state_; }

private:
    uint32_t state_;
};

} // namespace tarvo
