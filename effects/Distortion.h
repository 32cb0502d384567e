#pragma once
// The saturating units: "Tape Simulator" and "Transformer Amp" for the main chain, "Stereo
// Fuzz" for the send slots. Each channel runs through its own state; the parameters are
// shared by both.
//
// Threads: `bindParams` and `setSampleRate` run on the user-interface thread; `process`
// on the audio thread, never allocating.

#include <array>
#include <atomic>
#include <cstdint>

#include "effects/FxBase.h"
#include "effects/FxMath.h"

namespace tarvo {

// "Tape Simulator": a tone filter whose cutoff and brightness wander with Age, a saturator
// pushed by Drive, a gentle output filter and a gain follower that evens out the level.
class CompTape : public FxBase {
public:
    // A slowly wandering random value: a quadratic B-spline through three random points that
    // takes a new point each time its phase wraps.
    struct RandomCurve {
        float phase = 0.0f;
        float oldPoint = 0.0f, midPoint = 0.0f, newPoint = 0.0f;
        // Audio thread: moves the phase on by step (at most 1) and returns the curve's value.
        float advance(float step) noexcept;
    };

    // Per channel: tone filter, output filter, gain follower and the ramped tone coefficients.
    struct Channel {
        float hp = 0.0f, lp = 0.0f;
        float prev = 0.0f, slope = 0.0f;
        float follow = 1.0f;
        float cutoff = 0.0f, damp = 0.0f, bright = 0.0f;
        RandomCurve cutoffCurve, brightCurve;
    };

    const char* name() const override { return "Tape Simulator"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new CompTape; }
    void setSampleRate(float rate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return followerTailSeconds; }

    // Any thread: one value 0 <= v < 1 of the generator all tape units share; they draw
    // from one sequence in processing order.
    static float nextRandom() noexcept;
    // Starts the shared sequence again from its seed, so that a fixed scene renders the same
    // every time in one process. Tests and tools only, while no audio thread runs.
    static void restartSharedRandom() noexcept;

    float sampleRate = 0.0f;
    std::array<Channel, 2> channels{};

private:
    FxMath::Ramp softness, stiffness, squareTerm;
};

// "Transformer Amp": gain with a compressing curve whose two half-waves Bias makes
// unequal, then a soft clipper.
class Distorter : public FxBase {
public:
    const char* name() const override { return "Transformer Amp"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new Distorter; }
    void setSampleRate(float rate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;

    float sampleRate = 0.0f;
    std::array<float, 2> smoothGain = {1.0f, 0.0f};

private:
    FxMath::Ramp positiveSlope, negativeSlope, gainFactor;
};

// "Stereo Fuzz": a band filter whose output drives an asymmetric clipper.
class ParaDist : public FxBase {
public:
    const char* name() const override { return "Stereo Fuzz"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new ParaDist; }
    void setSampleRate(float rate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;

    float sampleRate = 0.0f;
    std::array<float, 2> hp{}, lp{};
    float freq = 0.0f, damp = 0.0f;

private:
    FxMath::Ramp positiveSlope, negativeSlope, floorLevel;
};

} // namespace tarvo
