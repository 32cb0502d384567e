#pragma once
// What the engine shares with its modulation and its track mixer: the parameter table, the
// per-channel controller values, mute and solo, the output meters and the send buses. The
// engine is built on it, and the modulation system and the mixer read and write it without
// knowing the engine.
//
// Threads: parameter values are plain floats that the user-interface thread writes and the
// audio thread reads; mute, solo, the meters and the meters-on flag are atomics; the tables
// of targets are filled at construction and read-only afterwards; controller values and send
// buses belong to the audio thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "control/Param.h"
#include "control/ParamLayout.h"
#include "control/TrackMixer.h"

namespace tarvo {

// Per-MIDI-channel controller values fed to the modulation scalers.
struct ChannelControls {
    float pitchBend = 0.0f;  // -1..1
    float modWheel = 0.0f;   // 0..1
    float aftertouch = 0.0f; // 0..1
};

struct EngineControls {
    static constexpr int trackCount = ParamLayout::trackCount;
    static constexpr int midiChannelCount = 16;

    // Sizes the parameter table; the engine defines its parameters.
    EngineControls() : params(static_cast<size_t>(layout.paramCount)) {}

    ParamLayout layout;
    std::vector<Param> params;
    // Parameter indices that modulation slots can target, per track, and the global ones.
    std::vector<int> modTargets;
    std::array<std::vector<int>, trackCount> trackTargets;
    std::vector<int> globalTargets;
    // Indices of the parameters the host sees, in host order.
    std::vector<int> hostParams;

    // Written by the block loop from the MIDI it dispatches.
    std::array<ChannelControls, midiChannelCount> channelControls{};

    // Bit t mutes track t. The editor's Mute buttons and state loading write it, the mixer reads it.
    std::atomic<int16_t> muteMask{0};
    // The soloed track, or -1. Written like `muteMask`.
    std::atomic<int16_t> soloTrack{-1};
    // Peak meters of up to nine stereo output buses (left, right of bus 0, then bus 1 ...);
    // the audio thread writes them while `metersOn`, the editor reads them.
    std::array<std::atomic<float>, TrackMixer::meterChannelCount> meterLevel{};
    // Set by the editor while it is shown: the audio thread then keeps the meters and the
    // parameters' shown values (the display copy of the modulation) up to date.
    std::atomic<bool> metersOn{false};
    // Send buses 1 and 2 of one hop: left (64 frames) then right (64 frames); cleared at the
    // start of every hop step, filled by the mixer, processed by the send effect slots.
    std::array<std::array<float, 2 * TrackMixer::sendFrames>, TrackMixer::sendCount> sendBus{};

    Param& param(int index) { return params[static_cast<size_t>(index)]; }
    const Param& param(int index) const { return params[static_cast<size_t>(index)]; }
};

} // namespace tarvo
