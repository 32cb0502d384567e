#pragma once
// Interface of every effect unit. A unit is created, configured (`bindParams`,
// `setSampleRate`) and destroyed on the user-interface thread; the audio thread only calls
// `process`, `reset` and `setTempo`, which never allocate.

#include "control/Param.h"

namespace tarvo {

class FxBase {
public:
    virtual ~FxBase() = default;

    // The unit's display name, a constant text.
    virtual const char* name() const = 0;
    // User-interface thread: defines the slot's two unit parameters (name, range, shape,
    // format, default, which becomes the current value) and keeps the pointer.
    virtual void bindParams(Param* first) { params = first; }
    // User-interface thread: a new default-constructed unit of the same class; caller owns it.
    virtual FxBase* create() const = 0;
    // User-interface thread: stores the rate, sizes and clears delay lines; may allocate.
    virtual void setSampleRate(float sampleRate) = 0;
    // Audio thread: stereo in place or out of place; frames is at most one engine hop.
    virtual void process(float* const* inputs, float* const* outputs, int frames) noexcept = 0;
    // Audio thread: clears the signal memory.
    virtual void reset() noexcept {}
    // Audio thread: the engine tempo in beats per minute.
    virtual void setTempo(float) noexcept {}
    // Audio thread: how long input and output must both stay below audibility before the
    // unit holds nothing that matters any more: its longest echo or pre-delay, or the time
    // its gain follower takes to come back to rest. The slot lets the unit sleep after that.
    // Units without memory beyond a few milliseconds keep this default.
    virtual float tailSeconds() const noexcept { return shortTailSeconds; }

    static constexpr float shortTailSeconds = 0.1f;
    // Gain followers (compressors, limiters, the tape's level follower) have recovered from
    // any gain change within this time.
    static constexpr float followerTailSeconds = 3.0f;
    // Reverbs: their longest pre-delay and loop, with room to spare.
    static constexpr float reverbTailSeconds = 1.0f;

    Param* params = nullptr;
};

} // namespace tarvo
