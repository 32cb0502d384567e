#pragma once
// The modulation system: fifteen sources (four envelopes, four LFOs with drawn shapes,
// "Constant", "BPM Octave", four noises and none) feeding eight modulation slots, plus the
// six global "All" parameters that shift the like-named parameter of every track.
//
// Modulation never touches a parameter's stored value: once per hop the global pass clears
// the offsets of every target and adds the global routings and "All" offsets (`modOffsetA`),
// then every sounding voice's pass adds its own routings (`modOffsetB`) to its track's
// targets right before the voice renders.
//
// Threads: the passes, `noteOnReset`, `noteOffRelease` and the display copy run on the audio
// thread and never allocate. Slot and source parameters are plain floats the editor may
// change at any time; a change takes effect at the next hop. The editor edits `lfoCurves`
// without a lock (see Curve).

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "control/Curve.h"

namespace tarvo {

struct EngineControls;

struct LfoState {
    float phase = 0.0f;  // 0..1
    float output = 0.0f; // -1..1
};

struct EnvelopeState {
    // 0 attack, 1 decay, 2 sustain, 3 release, 4 finished; the fraction is the progress.
    float stage = 0.0f;
    float level = 0.0f;
    // Mean level over the latest span run.
    float output = 0.0f;
    // Level at the note-off, where the release starts from.
    float releaseLevel = 0.0f;
    // Seconds a voice's envelope has not run because nothing read it; it catches up before it
    // is read again.
    float pendingSeconds = 0.0f;
};

struct NoiseState {
    float value = 0.0f;
    uint32_t seed = 0;
};

// Running state of every source: one global instance, and one per voice.
struct ModSourceState {
    static constexpr int lfoCount = 4, envelopeCount = 4, noiseCount = 4;
    std::array<LfoState, lfoCount> lfos{};
    std::array<EnvelopeState, envelopeCount> envelopes{};
    // White, pink, brown and hold, in this order.
    std::array<NoiseState, noiseCount> noises{};
};

// One active slot connection.
struct ModRouting {
    int32_t source = 0;
    int32_t scaler = 0;
    // Parameter index (taken from `modTargets`).
    int32_t target = 0;
    float amount = 0.0f;
};

// What a voice pass needs to know about the voice it runs for.
struct ModVoice {
    int track = 0;
    int note = 0;
    int channel = 0;
    float velocity = 0.0f; // 0..1
    float pressure = 0.0f; // polyphonic pressure
    // True until the voice's first hop has run.
    bool newNote = false;
};

class ModSystem {
public:
    static constexpr int slotCount = 8;
    static constexpr int envelopeCount = ModSourceState::envelopeCount;
    static constexpr int lfoCount = ModSourceState::lfoCount;
    // Points an LFO shape can hold.
    static constexpr int lfoCurveCapacity = 64;

    // Values of a slot's "Source".
    enum Source : int32_t {
        sourceNone = 0,
        sourceEnv1 = 1,
        sourceLfo1 = 5,
        sourceConstant = 9,
        sourceBpmOctave = 10,
        sourceNoiseWhite = 11,
        sourceNoisePink = 12,
        sourceNoiseBrown = 13,
        sourceNoiseHold = 14,
        sourceCount = 15,
    };
    // Values of a slot's "Scaler".
    enum Scaler : int32_t {
        scalerNone = 0,
        scalerVelocity = 1,
        scalerModWheel = 2,
        scalerPitchBend = 3,
        scalerAftertouch = 4,
        scalerNoteOctave = 5,
        scalerCount = 6,
    };
    enum class Level { global, perVoice };

    // Binds to the engine's parameters, target lists and channel controllers; starts the
    // four LFO shapes with one random shape (C library rand()). User-interface thread.
    explicit ModSystem(EngineControls& synth);
    ModSystem(const ModSystem&) = delete;
    ModSystem& operator=(const ModSystem&) = delete;

    // The engine's tempo in beats per minute, written by the block loop every host block.
    float bpm = 120.0f;
    ModSourceState globalState;
    std::array<Curve, lfoCount> lfoCurves;

    // Audio thread. Once per new hop, before any voice computes it. seconds is the hop's
    // duration, beats the same in quarter notes; beatPosition is the song position in
    // quarter notes, absent while the transport stands.
    void globalPass(float seconds, float beats, std::optional<double> beatPosition) noexcept;
    // Audio thread. Once per sounding voice and hop, right before the voice computes it.
    void voicePass(ModSourceState& state, const ModVoice& voice, float seconds, float beats,
                   std::optional<double> beatPosition) noexcept;
    // Audio thread. Right after a voice is allocated for a note.
    void noteOnReset(ModSourceState& voiceState) noexcept;
    // Audio thread. At a voice's note-off: its envelopes start their release.
    void noteOffRelease(ModSourceState& voiceState) const noexcept;
    // Audio thread. At the end of every rendered sub-block: the values the editor shows.
    void updateDisplay() noexcept;

    // The current value of one source in a state.
    float sourceValue(const ModSourceState& state, int source) const noexcept;
    // Collects the slots whose kind matches level; returns the routings, valid until the
    // next call.
    std::span<const ModRouting> buildRoutings(Level level) noexcept;
    // Bit (1 << source) of every source.
    static constexpr uint32_t allSources = (1u << sourceCount) - 1u;
    // Moves every source of state on by one span. shared (the global state) gives the LFOs
    // that are not per voice; noteOn restarts the envelopes and the hold noise. Of the LFOs
    // and envelopes only those in `read` (bits 1 << source) compute their output: the others'
    // LFO phases still move on, and their envelopes keep the span to run when next read.
    void advanceSources(ModSourceState& state, float seconds, float beats, std::optional<double> beatPosition,
                        const ModSourceState* shared, bool noteOn, uint32_t read = allSources) noexcept;
    // Runs envelope e of state for span seconds.
    void runEnvelope(EnvelopeState& env, int e, float span) const noexcept;

    // Value of a scaler for a voice.
    float scalerValue(int scaler, const ModVoice& voice) const noexcept;

private:
    float effective(int index) const noexcept;

    EngineControls& synth_;
    std::array<ModRouting, slotCount> routings_{};
    // Every source a routing of either level reads, as the last scan of the slots found.
    uint32_t routedSources_ = 0;
    // Whether a pass has offset any parameter since the global pass last reset them all.
    bool modulationApplied_ = true;
};

} // namespace tarvo
