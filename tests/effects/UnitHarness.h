#pragma once
// Drives one effect unit outside a slot: its own two parameters, a rate, and stereo signals
// run through it in blocks; and the measurements the effect tests make on the output.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "control/Param.h"
#include "effects/FxBase.h"

namespace tarvo::testing {

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(size_t frames = 0, float value = 0.0f) : left(frames, value), right(frames, value) {}
    size_t size() const { return left.size(); }
};

inline Stereo sine(float rate, float hz, float amplitude, float seconds) {
    Stereo s(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < s.size(); ++i) {
        const float v =
            amplitude * std::sin(2.0f * std::numbers::pi_v<float> * hz * static_cast<float>(i) / rate);
        s.left[i] = v;
        s.right[i] = v;
    }
    return s;
}

inline float peak(const std::vector<float>& v, size_t from = 0, size_t to = SIZE_MAX) {
    float p = 0.0f;
    for (size_t i = from; i < std::min(to, v.size()); ++i) p = std::max(p, std::fabs(v[i]));
    return p;
}

inline float peak(const Stereo& audio, size_t from = 0, size_t to = SIZE_MAX) {
    return std::max(peak(audio.left, from, to), peak(audio.right, from, to));
}

// First frame at which either channel's magnitude exceeds `threshold`, or -1.
inline long firstAbove(const Stereo& audio, float threshold) {
    for (size_t i = 0; i < audio.size(); ++i)
        if (std::fabs(audio.left[i]) > threshold || std::fabs(audio.right[i]) > threshold)
            return static_cast<long>(i);
    return -1;
}

class UnitHarness {
public:
    // Creates a unit from the prototype, defines its parameters, sets them (plain values)
    // and the rate.
    UnitHarness(const FxBase& prototype, float rate, float first, float second) : unit(prototype.create()) {
        unit->bindParams(params);
        set(first, second);
        unit->setSampleRate(rate);
    }
    // Takes a newly created unit over, with its parameters at their defaults.
    UnitHarness(FxBase* created, float rate) : unit(created) {
        unit->bindParams(params);
        unit->setSampleRate(rate);
    }

    void set(float first, float second) {
        params[0].set(first);
        params[1].set(second);
    }

    // Processes the signal in place in blocks of at most blockFrames.
    void run(Stereo& s, int blockFrames = 64) {
        for (size_t start = 0; start < s.size(); start += static_cast<size_t>(blockFrames)) {
            const int n = static_cast<int>(std::min(s.size() - start, static_cast<size_t>(blockFrames)));
            float* io[2] = {s.left.data() + start, s.right.data() + start};
            unit->process(io, io, n);
        }
    }
    Stereo processed(Stereo s, int blockFrames = 64) {
        run(s, blockFrames);
        return s;
    }
    Stereo runSilence(size_t frames, int blockFrames = 64) { return processed(Stereo(frames), blockFrames); }

    std::unique_ptr<FxBase> unit;
    Param params[2];
};

} // namespace tarvo::testing
