#pragma once
// A unit bound to its own two parameters at a sample rate, and stereo buffers to run it on.

#include <algorithm>
#include <memory>
#include <vector>

#include "control/Param.h"
#include "effects/FxBase.h"

namespace tarvo::testing {

struct Stereo {
    explicit Stereo(size_t frames = 0) : left(frames, 0.0f), right(frames, 0.0f) {}
    size_t size() const { return left.size(); }
    std::vector<float> left;
    std::vector<float> right;
};

struct BoundUnit {
    BoundUnit(FxBase* created, float sampleRate) : unit(created) {
        unit->bindParams(params);
        unit->setSampleRate(sampleRate);
    }

    void set(float first, float second) {
        params[0].set(first);
        params[1].set(second);
    }

    // Processes the buffers in place, in blocks of at most `block` frames.
    void run(Stereo& audio, int block = 64) {
        const int frames = static_cast<int>(audio.size());
        for (int start = 0; start < frames; start += block) {
            const int n = std::min(block, frames - start);
            float* io[2] = {audio.left.data() + start, audio.right.data() + start};
            unit->process(io, io, n);
        }
    }

    Stereo runSilence(size_t frames, int block = 64) {
        Stereo audio(frames);
        run(audio, block);
        return audio;
    }

    std::unique_ptr<FxBase> unit;
    Param params[2];
};

inline float peak(const Stereo& audio, size_t from = 0, size_t to = SIZE_MAX) {
    float p = 0.0f;
    to = std::min(to, audio.size());
    for (size_t i = from; i < to; ++i) p = std::max({p, std::abs(audio.left[i]), std::abs(audio.right[i])});
    return p;
}

// First frame at which either channel's magnitude exceeds `threshold`, or -1.
inline long firstAbove(const Stereo& audio, float threshold) {
    for (size_t i = 0; i < audio.size(); ++i)
        if (std::abs(audio.left[i]) > threshold || std::abs(audio.right[i]) > threshold)
            return static_cast<long>(i);
    return -1;
}

} // namespace tarvo::testing
