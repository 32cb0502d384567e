#pragma once
// What the audio thread shows the editor: voices, reader positions, the sequencer's position,
// envelope and LFO positions and the meters, copied once per block while an editor is open.
//
// The copy travels through a triple buffer: the audio thread fills its own back buffer and
// swaps it with the middle one in a single atomic exchange; the editor swaps the middle buffer
// with its front buffer when a newer one is there. Neither side ever waits, and each buffer
// belongs to one thread at a time, so the editor never reads a half-written snapshot.

#include <array>
#include <atomic>
#include <cstdint>

namespace tarvo {

struct VoiceDisplay {
    int32_t state = 0;            // 0 free, 1 held, 2 released
    float readerPosition = -1.0f; // warped frame of the Blob reader, 0..96; < 0 before the first hop
    float releaseProgress = 0.0f; // 0 until note off, 1 when the release has run out
    float dynGain = 0.0f;         // velocity amplitude factor
    float velocity = 0.0f;        // 0..1, through the track's velocity curve
    float curvedVelocity = 0.0f;
    float age = 0.0f; // seconds since the note started
    // Per envelope: stage with its fraction (0 attack .. 3 release, 4 finished) and level.
    std::array<float, 4> envelopeStage{};
    std::array<float, 4> envelopeLevel{};
    // Per LFO (per-voice LFOs): phase 0..1 and output -1..1.
    std::array<float, 4> lfoPhase{};
    std::array<float, 4> lfoOutput{};
};

struct TrackDisplay {
    std::array<VoiceDisplay, 4> voices{};
    int32_t soundingVoices = 0;
    int32_t sequencerPosition = 0; // play position in ticks within the track's pattern
    float lastVelocity = 0.0f;
};

struct DisplaySnapshot {
    static constexpr int trackCount = 8;
    static constexpr int meterChannels = 18; // left and right of nine output buses
    static constexpr int fxSlots = 4;

    uint32_t sequence = 0; // counts published snapshots; 0 means none yet
    std::array<TrackDisplay, trackCount> tracks{};
    // Shared LFOs: phase and output.
    std::array<float, 4> lfoPhase{};
    std::array<float, 4> lfoOutput{};
    int32_t lastTriggeredTrack = 0;
    int32_t playing = 0;
    double sequencerSteps = 0.0; // the sequencer's loop position in steps
    std::array<float, meterChannels> meters{};
    // Per effect slot: input left, right, output left, right.
    std::array<std::array<float, 4>, fxSlots> fxMeters{};
};

// A single-writer, single-reader triple buffer of display snapshots.
class DisplayPublisher {
public:
    // Writer (audio thread): the buffer to fill. Never allocates or waits.
    DisplaySnapshot& back() noexcept { return buffers_[back_]; }
    // Writer: hands the filled back buffer over and takes the middle one for the next fill.
    void publish() noexcept {
        buffers_[back_].sequence = ++written_;
        back_ = middle_.exchange(back_ | freshBit, std::memory_order_acq_rel) & indexMask;
    }
    // Reader (message thread): takes the newest published snapshot when there is one, and
    // returns the front buffer (unchanged when nothing new came). Never allocates or waits.
    const DisplaySnapshot& latest() noexcept {
        if ((middle_.load(std::memory_order_relaxed) & freshBit) != 0)
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & indexMask;
        return buffers_[front_];
    }

private:
    static constexpr uint32_t freshBit = 4, indexMask = 3;
    std::array<DisplaySnapshot, 3> buffers_{};
    uint32_t back_ = 0;               // writer's
    std::atomic<uint32_t> middle_{1}; // shared: index, plus freshBit when unread
    uint32_t front_ = 2;              // reader's
    uint32_t written_ = 0;            // writer's
};

} // namespace tarvo
