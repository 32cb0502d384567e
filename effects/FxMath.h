#pragma once
// Fast approximations shared by the dynamics and saturation units. The units compute their
// gains in a base-2 logarithmic domain; these keep the per-sample work free of library
// transcendental functions.

#include <array>
#include <bit>
#include <cstdint>

namespace tarvo::FxMath {

// Entry i is the float whose bit pattern is i << 23: 2^(i - 127) for i >= 1, 0 for i = 0.
inline constexpr std::array<float, 256> exp2Table = [] {
    std::array<float, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) table[i] = std::bit_cast<float>(i << 23);
    return table;
}();

// Decibels into base-2 logarithm units: 1 / (20 log10 2).
inline constexpr float dbToLog2 = 0.16609640474436813f;
// Decibels into nepers: ln 10 / 20.
inline constexpr float dbToNeper = 0.11512925464970229f;

// Lowest and highest argument of `fastExp2` that keeps the table index inside the table
// and below the entry that holds infinity.
inline constexpr float exp2Lowest = -127.0f;
inline constexpr float exp2Highest = 127.99f;

// 2^x by table lookup of the integer part and a quartic for the fraction. Arguments
// outside the float range (and NaN) are clamped so the lookup never leaves the table.
inline float fastExp2(float x) {
    x = x > exp2Lowest ? x : exp2Lowest;
    x = x < exp2Highest ? x : exp2Highest;
    const float shifted = x + 127.0f;
    const int k = static_cast<int>(shifted);
    const float f = shifted - static_cast<float>(k);
    return exp2Table[static_cast<size_t>(k)] *
           ((((0.013686472f * f + 0.051752277f) * f + 0.2415656f) * f + 0.69299567f) * f + 1.0f);
}

// log2(v) for v > 0: the exponent plus a quartic over the mantissa in [1, 2).
inline float fastLog2(float v) {
    const uint32_t bits = std::bit_cast<uint32_t>(v);
    const float m = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);
    const float e = static_cast<float>(static_cast<int>((bits >> 23) & 0xFFu) - 127);
    return (((0.64802337f - 0.08193954f * m) * m - 2.1291816f) * m + 4.080474f) * m - 2.5173764f + e;
}

// Smooth saturation: passes u near 0 and approaches +-1.
inline float softClip(float u) {
    const float a = u < 0.0f ? -u : u;
    const float w = a * a + a + 1.0f;
    return w * u / (w * a + 1.0f);
}

// Fraction of the remaining distance a one-pole smoother with a time constant of about x
// samples covers per sample.
inline float smoothCoef(float x) {
    return 1.0f - x * x / (x + 1.0f + x * x);
}

// Approximation of e^-x for x >= 0.
inline float expNeg(float x) {
    const float x2 = x * x;
    return 1.0f / (0.5f * x2 + x + 1.0f + 0.17f * x2 * x2);
}

// A coefficient that glides linearly from its value in the previous block to the value
// computed for this block, so a parameter change never steps the signal. The first block
// after `unprime` starts at the target.
struct Ramp {
    float value = 0.0f;
    float step = 0.0f;
    bool primed = false;

    void aim(float target, int frames) {
        if (!primed) {
            value = target;
            primed = true;
        }
        step = frames > 0 ? (target - value) / static_cast<float>(frames) : 0.0f;
        end = target;
    }
    // The value for the next frame; after the block's last frame it equals the target.
    float next() {
        value += step;
        return value;
    }
    // Snaps onto the target after the block, so rounding never accumulates.
    void finish() { value = end; }
    void unprime() { primed = false; }

private:
    float end = 0.0f;
};

} // namespace tarvo::FxMath
