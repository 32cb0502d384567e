#pragma once
// The track mixer: turns each track's mono signal into stereo and routes it. Per track it
// applies mute and solo, the clipper ("Clip"), the level ("Amp"), a linear balance ("Pan")
// and an all-pass decorrelation width ("Width"), adds the result to the track's output bus
// ("Output") and feeds the two send buses after the level stage. It also holds the DJ filter
// that shapes each voice frame's band gains, and the output peak meters.
//
// Threads: `mixTrack`, `meterBuses` and `djFilterBands` run on the audio thread and never
// allocate. `toggleMute` and `toggleSolo` run on the user-interface thread; mute mask, solo
// track, meter levels and the meters-on flag are atomics on the engine, so the two threads
// meet only there. `prepare` runs on the user-interface thread with audio stopped.

#include <array>
#include <cstdint>

namespace tarvo {

struct EngineControls;

// Soft, asymmetric limiter state of a track.
struct TrackClipper {
    float gain = 1.0f;
    float sampleRate = 44100.0f;
};

// One first-order all-pass stage.
struct AllPassStage {
    float coefficient = 0.0f;
    float state = 0.0f;
};

// Balance and width state of a track. Stages 0 and 1 form the left chain, 2 and 3 the right.
struct TrackStereo {
    static constexpr int stageCount = 4;
    float gainL = 0.0f;
    float gainR = 0.0f;
    std::array<AllPassStage, stageCount> stages{};
    // Set until the first use, which jumps to the targets instead of ramping.
    uint8_t snap = 1;
};

// Mixer settings of one track for one sub-block, already bounded.
struct StripSettings {
    float amp = 0.0f;   // 0..16
    float pan = 0.0f;   // -1..1
    float width = 0.0f; // 0..1
    float clip = 0.0f;  // 0..1
};

// Name of output bus b: "Main", then "Bus 1" to "Bus 8"; empty outside 0..8.
const char* outputBusName(int bus);

// The clipper on x[0..n) in place, with clip amount b (0..1).
void processClipper(TrackClipper& clipper, float* x, int n, float b) noexcept;
// The balance and width stage from mono x[0..n) into left and right.
void processStereo(TrackStereo& stereo, const float* x, float* left, float* right, int n,
                   const StripSettings& settings) noexcept;
// The DJ filter on a voice frame's 80 band gains; filter is the track's "Filter" (-100..100).
void djFilterBands(float* bands, float filter) noexcept;
// Whether track t is muted: with a solo track every other track is, else its mute bit counts.
bool trackMuted(int track, int muteMask, int soloTrack) noexcept;

class TrackMixer {
public:
    static constexpr int trackCount = 8;
    static constexpr int busCount = 9;
    static constexpr int meterChannelCount = 2 * busCount;
    static constexpr int bandCount = 80;
    // Frames in a send bus, each holding left then right: the longest hop the engine takes at
    // any rate. The mixer fills at most 64 of them per step; a step that mixes nothing and
    // only passes the resting effect slots may span a whole hop.
    static constexpr int sendFrames = 1024;
    static constexpr int sendCount = 2;

    explicit TrackMixer(EngineControls& synth);
    TrackMixer(const TrackMixer&) = delete;
    TrackMixer& operator=(const TrackMixer&) = delete;

    // User-interface thread, audio stopped: the clippers and meters follow the sample rate.
    void prepare(float sampleRate);
    // Audio thread: the clipper and stereo states start over (the next use snaps).
    void reset() noexcept;

    // Audio thread. Mixes one sub-block of track t's mono signal (modified in place by the
    // clipper) into outputs[2 Output, 2 Output + 1][busOffset ...] and into the send buses.
    // When the track made no sound or its output bus is missing, nothing is added anywhere
    // and the track is marked silent; returns whether it was mixed.
    bool mixTrack(int track, float* mono, int frames, bool sounding, float* const* outputs, int outputCount,
                  int busOffset) noexcept;
    // Audio thread. Updates the peak meters of the first busCount stereo buses from
    // outputs[c][offset .. offset + frames), while the engine's meters are on.
    void meterBuses(const float* const* outputs, int busCount, int frames, int offset) noexcept;
    // Audio thread. The effective settings of track t, muted or not.
    StripSettings stripSettings(int track, bool muted) const noexcept;

    // User-interface thread: a Mute button toggles its track's bit.
    void toggleMute(int track);
    // User-interface thread: a Solo button solos its track, or un-solos it when it already is.
    void toggleSolo(int track);

    // Per-track strip state; `silent` is set when a sub-block was skipped.
    std::array<TrackClipper, trackCount> clippers{};
    std::array<TrackStereo, trackCount> stereo{};
    std::array<bool, trackCount> silent{};

private:
    EngineControls& synth_;
    float sampleRate_ = 44100.0f;
};

} // namespace tarvo
