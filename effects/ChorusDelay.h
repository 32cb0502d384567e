#pragma once
// "Chorus" and "Tempo Delay", two send units that return only the wet signal. Both are built
// from the delay-line primitives and wobble their delay times with a cheap sine.
//
// Threads: as every unit (see FxBase.h): configured on the user-interface thread, processed
// on the audio thread.

#include "effects/DelayLines.h"
#include "effects/FxBase.h"

namespace tarvo {

// Close to sin(2 pi phase) for a phase in [0, 1), without a transcendental call.
inline float sineApprox(float phase) noexcept {
    const float u = (1.0f - phase) * phase;
    return ((56.164032f * u + 35.870132f) * u + 12.638167f) * (0.5f - phase) * u;
}

// Two modulated voices smeared by all-pass and rotation stages into a wide stereo image.
class FxChorus : public FxBase {
public:
    // Voices are processed in chunks this long, so the sweep follows the LFO closely.
    static constexpr int chunkFrames = 32;

    const char* name() const override { return "Chorus"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new FxChorus(); }
    void setSampleRate(float sampleRate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    // Audio thread: empties the lines, so a unit switched back on never replays old sound.
    void reset() noexcept override;

    DelayLine voiceLines[2];
    DelayLine rotationLines[3];
    DelayLine allpassLines[2];
    float lfoPhase = 0.0f;
    float sampleRate = 0.0f;
};

// Echoes locked to whole sixteenth notes of the engine tempo; a fractional "Length" blends
// the two neighbouring lengths.
class FxTempoDelay : public FxBase {
public:
    static constexpr int chunkFrames = 32;
    // Seconds of echo line per channel: eight sixteenths at 30 BPM.
    static constexpr float echoSeconds = 4.0f;

    const char* name() const override { return "Tempo Delay"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new FxTempoDelay(); }
    void setSampleRate(float sampleRate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    // The longest echo now sounding: the tap beyond the current length, at the tempo.
    float tailSeconds() const noexcept override;
    void reset() noexcept override;
    // Audio thread: keeps the tempo for the next call; values that are not positive and
    // finite are ignored.
    void setTempo(float bpm) noexcept override;

    DelayLine echoLines[2];
    // Per tap slot (even and odd sixteenths) and channel.
    DelayReader readers[2][2];
    DelayLine rotationLines[2];
    float lfoPhase = 0.0f;
    float sampleRate = 0.0f;
    float tempo = 120.0f;
    float fbGain = 0.0f;
    // Echo length in sixteenths as it glides towards "Length".
    float lengthNow = 2.0f;
    float toneLow[2] = {};
    float toneHigh[2] = {};
};

} // namespace tarvo
