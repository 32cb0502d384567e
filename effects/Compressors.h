#pragma once
// The dynamics units: four for the main chain and one for the send slots. All are
// stereo-linked (one gain for both channels), work sample by sample without look-ahead and
// compute their gains as base-2 logarithms with the approximations of FxMath.
//
// Threads: `bindParams` and `setSampleRate` run on the user-interface thread; `process`
// and `reset` on the audio thread, never allocating.

#include "effects/FxBase.h"
#include "effects/FxMath.h"

namespace tarvo {

// "Sticky Compressor": 3:1 above a threshold that falls as the make-up gain rises, then
// a soft clipper.
class CompGlue : public FxBase {
public:
    const char* name() const override { return "Sticky Compressor"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new CompGlue; }
    void setSampleRate(float rate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return followerTailSeconds; }

    float sampleRate = 0.0f;
    float gainLog2 = 0.0f;

private:
    FxMath::Ramp release, attack, threshold, makeup;
};

// "L.A. Optical": a program-dependent gain cell that pulls loud signals toward a constant
// level, faster the further it is off.
class CompOptical : public FxBase {
public:
    const char* name() const override { return "L.A. Optical"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new CompOptical; }
    void setSampleRate(float rate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return followerTailSeconds; }

    float sampleRate = 0.0f;
    float envelope = 1.0f;
    float opticalGain = 1.0f;

private:
    FxMath::Ramp release, attack, knee, kneeOverGain, inverseGain;
};

// "Upward Compressor": lifts passages below a threshold (ratio above 1) or adds a constant
// gain and turns the slope over (ratio below 1).
class CompVinyl : public FxBase {
public:
    const char* name() const override { return "Upward Compressor"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new CompVinyl; }
    void setSampleRate(float rate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return followerTailSeconds; }
    void reset() noexcept override;

    float sampleRate = 0.0f;
    float gainLog2 = 0.0f;
    float peakHold = 0.0f;

private:
    FxMath::Ramp slope, offset, threshold, release, attack;
};

// "Limiter": drives the input into a ceiling just under 0 dB with a fast and a slow gain
// follower joined by a soft minimum.
class CompLimiter : public FxBase {
public:
    const char* name() const override { return "Limiter"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new CompLimiter; }
    void setSampleRate(float rate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return followerTailSeconds; }

    float sampleRate = 0.0f;
    float fastGain = 1.0f;
    float slowGain = 1.0f;

private:
    FxMath::Ramp drive, fastRelease, fastAttack, slowRelease, slowAttack;
};

// "Compressor" of the send list: pulls every level toward -15 dB by the ratio, then a soft
// clipper.
class ParaCompress : public FxBase {
public:
    const char* name() const override { return "Compressor"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new ParaCompress; }
    void setSampleRate(float rate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return followerTailSeconds; }

    float sampleRate = 0.0f;
    float gainLog2 = 0.0f;

private:
    FxMath::Ramp slope, release, attack;
};

} // namespace tarvo
