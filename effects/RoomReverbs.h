#pragma once
// "Diffuser", a feedback-free chain of rotation stages that smears the sound into a dense
// cloud, and "Room Reverb", a modulated feedback network with damping; both send units
// return only the wet signal. Also the two ramped filters the reverbs share.
//
// Threads: as every unit (see FxBase.h): configured on the user-interface thread, processed
// on the audio thread.

#include <cstdint>

#include "effects/DelayLines.h"
#include "effects/FxBase.h"

namespace tarvo {

// Stereo resonant high-pass whose coefficients glide towards their targets by at most 0.01
// per sample. Runs in place.
struct ToneFilter {
    // Largest coefficient change per sample.
    static constexpr float slew = 0.01f;
    // Below this resonance the filter is left out and the block passes unchanged.
    static constexpr float bypassBelow = 0.001f;

    // Audio thread: cutoff as a fraction of the sample rate, q the resonance.
    void process(float* left, float* right, int n, float cutoff, float q) noexcept;
    void clear() noexcept;

    float low[2] = {};
    float high[2] = {};
    float freq = 0.0f;
    float res = 0.0f;
};

struct ShelfCoefficients {
    float b0 = 0.0f;
    float b1 = 0.0f;
    float p = 0.0f;
};

// First-order shelf with corner f (fraction of the sample rate), gain a below and b above.
ShelfCoefficients shelfDesign(float f, float a, float b) noexcept;

// Stereo first-order shelf whose coefficients glide by at most 0.001 per sample towards
// `target`. Runs in place.
struct ShelfFilter {
    static constexpr float slew = 0.001f;

    void process(float* left, float* right, int n) noexcept;
    void clear() noexcept;

    ShelfCoefficients target;
    ShelfCoefficients now;
    float state[2] = {};
};

class ReverbDiffuser : public FxBase {
public:
    static constexpr int stageCount = 8;
    // Stage delays may change by one sample per chunk of this many frames without clicks.
    static constexpr int chunkFrames = 16;

    const char* name() const override { return "Diffuser"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new ReverbDiffuser(); }
    void setSampleRate(float sampleRate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return reverbTailSeconds; }
    void reset() noexcept override;

    DelayLine stages[stageCount];
    // Delay each stage runs at now, in samples.
    int lenNow[stageCount] = {};
    CrossfadeDelay preDelay;
    float bassLeft = 0.0f;
    float bassRight = 0.0f;
    // Share of the low end that leaves in mono.
    float width = 1.0f;
    float sampleRate = 0.0f;
};

// The room's feedback network: two long modulated main lines closing a loop through
// rotation and all-pass stages, a damping shelf, a tone filter and an optional mono bass.
class RoomEngine {
public:
    static constexpr int chunkFrames = 64;
    static constexpr int stageLines = 12;
    // Usable samples of each main line, at every sample rate.
    static constexpr int mainLineSamples = 8260;

    // User-interface thread, allocates.
    void setSampleRate(float sampleRate);
    // Audio thread: empties every line and filter and starts the wobble at a new phase.
    void reset() noexcept;
    // Audio thread: stereo, in place or not.
    void process(const float* const* inputs, float* const* outputs, int frames) noexcept;

    float preDelayMs = 5.0f;
    float decaySeconds = 1.0f;
    float dampPercent = 30.0f;
    float bassSplitPercent = 100.0f;
    float modDepth = 5.0f;
    // Kilohertz.
    float toneCutoff = 2.0f;
    float toneWidth = 50.0f;
    float bassWidth = 1.0f;

    DelayLine mainLines[2];
    DelayLine rotationLines[6];
    DelayLine allpassLines[6];
    CrossfadeDelay preDelay;
    float lfoPhase = 0.0f;
    ShelfFilter shelf;
    ToneFilter tone;
    float bassLeft = 0.0f;
    float bassRight = 0.0f;
    // Samples around the loop through all stage lines, and that plus a tenth of a second.
    float loopLength = 0.0f;
    float pathLength = 0.0f;
    float sampleRate = 0.0f;
    int channels = 2;
    // Input gain reached at the end of the last call.
    float inGainNow = 0.0f;
    // Generator for the wobble's start phase; a fixed seed keeps renders repeatable.
    uint32_t randomState = 12345u;
};

class ReverbHall : public FxBase {
public:
    const char* name() const override { return "Room Reverb"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new ReverbHall(); }
    void setSampleRate(float sampleRate) override { engine.setSampleRate(sampleRate); }
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return reverbTailSeconds; }
    void reset() noexcept override { engine.reset(); }

    // Derives the engine's decay and colour settings from "Length" and "Color" (0..100).
    void applySettings(float length, float color) noexcept;

    RoomEngine engine;
};

} // namespace tarvo
