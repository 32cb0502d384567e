#pragma once
// The sound engine: tracks, voices, the 270 engine parameters, modulation, mixer and
// effect slots.
//
// Threads: construction and `prepare` run on the user-interface thread (or the host's
// set-up thread) and may allocate. `reset`, `noteEvent`, `polyPressure`, `controller` and
// `renderSubBlock` run on the audio thread and never allocate or wait. Parameter values
// are plain floats that the user-interface thread writes and the audio thread reads.

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "control/EngineControls.h"
#include "control/ModSystem.h"
#include "control/Param.h"
#include "control/ParamLayout.h"
#include "control/TrackMixer.h"
#include "effects/FxSlot.h"
#include "engine/EngineSetup.h"
#include "engine/HopSynthesis.h"
#include "engine/Track.h"

namespace tarvo {

class BandSynth : public EngineControls {
public:
    // Most frames one step of the renderer mixes, and the engine's hop at 44.1 kHz; the hop at
    // the prepared rate is `hopFrames()` (see EngineTables).
    static constexpr int hopSize = 64;

    // User-interface thread; allocates. Defines the whole parameter table.
    BandSynth();

    // Written by the block loop before every sub-block loop.
    double tempoBpm = 120.0;
    double ppqPosition = 0.0;
    bool transportRunning = false;
    int32_t pendingHopSamples = 0;

    // ---- Modulation and track mixer ------------------------------------------------------
    // Sources, routings and LFO shapes; the passes run on the audio thread once per hop.
    ModSystem modSystem{*this};
    // Channel strips, sends and meters; runs on the audio thread once per sub-block.
    TrackMixer mixer{*this};
    // ---- end of modulation and track mixer -----------------------------------------------

    // User-interface thread (host reset at a new rate); allocates.
    void prepare(float sampleRate);
    // Audio thread: silences voices and clears banks, reseeding from seed.
    void reset(uint32_t seed);

    // Audio thread. velocity > 0 is a note on, <= 0 a note off.
    void noteEvent(int note, float velocity, int channel);
    void polyPressure(float pressure, int note, int channel);
    // code 0: pitch bend, 1: aftertouch, 1001: modulation wheel; others are ignored.
    void controller(int code, float value, int channel);
    // Renders `frames` (any count; the block loop passes at most one hop) into
    // outputs[channel][offset ...].
    void renderSubBlock(float* const* outputs, int frames, int channelCount, int offset) noexcept;

    // ---- Event tap ----
    // An optional observer of what the block loop hands to the engine; tests and diagnostics
    // set it, the plug-in leaves it null. Called on the audio thread.
    class EventTap {
    public:
        virtual ~EventTap() = default;
        virtual void noteEvent(int note, float velocity, int channel) = 0;
        virtual void polyPressure(float pressure, int note, int channel) = 0;
        // Once per rendered sub-block, before the hop grid moves on.
        virtual void subBlock(int frames, int offset) = 0;
    };
    EventTap* eventTap = nullptr;
    // ---- Effect slots ------------------------------------------------------------------
    // Send 1, Send 2, Main 1, Main 2. Construction defines each slot's parameters with
    // `defineFxSlot`; the idle tick runs `swapFxUnits`; the renderer runs `runFxPass` after
    // the mixer. See effects/FxSlot.h for the hand-over between the two threads.
    FxSlots fxSlots;
    // Set by the state loader after it has restored parameter values, so the next swaps
    // keep the loaded unit parameter values; cleared by the swap routine.
    std::atomic<uint8_t> keepFxParamValues{0};
    // ---- End of effect slots -----------------------------------------------------------

    // ---- Tracks, voices and hop synthesis ------------------------------------------------
    // The eight drum tracks with their Blob slots, banks and voices.
    std::array<Track, trackCount> tracks;
    // Band layout and per-band constants for the prepared rate; read-only between
    // preparations.
    EngineTables tables;
    // The Blob tail's random generator, shared by every reader of this engine.
    TailNoise tailNoise;
    // The track of the latest note on (the editor follows it).
    int32_t lastTriggeredTrack = 0;
    // A track's mono signal of one step, then its left and right strip output.
    std::array<float, 3 * hopSize> trackScratch{};

    // Whether a voice ends as soon as it and everything its Blob would still play stay below
    // audibility (see `endsInaudible`); otherwise it runs to the end of its Blob's tail. Tests
    // turn it off to hear what an ended voice would have played on.
    bool endInaudibleVoices = true;

    // The vector path of the hop kernels and the Blob readers' frame kernels: the fastest this
    // processor runs unless the environment asks for another (see `defaultVectorPath`). Main
    // thread, while no block is processed.
    void setVectorPath(VectorPath path) noexcept {
        vectorPath_ = vectorPathAvailable(path) ? path : VectorPath::baseline;
        kernels_ = &hopKernels(vectorPath_);
        frameKernels_ = &frameKernels(vectorPath_);
    }
    VectorPath vectorPath() const noexcept { return vectorPath_; }

    float sampleRate() const { return sampleRate_.load(std::memory_order_acquire); }
    // Grid samples per hop at the prepared rate: one inverse transform per track every this
    // many (output samples too, unless the banks resample).
    int hopFrames() const { return tables.hopFrames; }
    // Whether `prepare` has set the engine up for a usable rate; nothing sounds before.
    bool prepared() const { return tables.binCount > 0; }
    // Audio thread: the effective value of offset `which` in track t's parameter block.
    float trackValue(int t, int which) const noexcept {
        return params[static_cast<size_t>(layout.trackBase[static_cast<size_t>(t)] + which)].effective();
    }
    // ---- end of tracks, voices and hop synthesis -----------------------------------------

private:
    // One hop of every track, in track order. The voices run up to the coherence solve track
    // after track; their solves are batched across tracks, one voice per lane, and each
    // track is completed (its voices added in order, then its bank hopped) once its last
    // voice is solved.
    void synthesizeTracksHop(float hopSeconds, float hopBeats, std::optional<double> position) noexcept;
    // Track t's voices up to the solve; a full set of lanes is solved on the way.
    void prepareTrackHop(int t, float hopSeconds, float hopBeats, std::optional<double> position) noexcept;
    // One hop of voice v of track t up to the coherence solve, whose operands it loads into
    // solve lane `lane`; returns false when the voice ended before sounding.
    bool synthesizeVoice(int t, int v, int lane, float hopSeconds, float hopBeats,
                         std::optional<double> position) noexcept;
    // Solves the loaded lanes side by side and adds each of their voices, in lane order, to
    // its track's spectrum, completing the tracks before it on the way.
    void solveLoadedLanes() noexcept;
    // Adds the spectrum to the bank of every track before `end` not yet completed, and hops it.
    void completeTracksBefore(int end) noexcept;
    // After the voice's hop has been synthesized: whether its output this hop, and anything its
    // Blob can still play, lie below audibility, for more than a hop.
    bool endsInaudible(Voice& voice) const noexcept;
    // Starts track t's spectrum sum if the sum does not hold track t yet.
    void beginAccumulation(int t) noexcept;
    // Whether a render step would mix nothing (every bank at rest) and run no effect unit
    // (every slot resting), so that its length changes nothing but the meters' steps.
    bool quietStep() const noexcept;
    // Output samples from one hop to the next: hopFrames, or where the banks resample, the
    // samples the hop's grid samples let them read (46 or 47 at 32 kHz).
    int nextHopLength() noexcept;

    // Written by `prepare`, read by the audio thread and by the idle tick (effect swaps).
    std::atomic<float> sampleRate_{0.0f};
    // With resampling banks: grid samples made final beyond the position of the next output
    // sample, 32.32 fixed point (see `nextHopLength`).
    int64_t gridAheadFx_ = 0;
    VectorPath vectorPath_ = defaultVectorPath();
    const HopKernels* kernels_ = &hopKernels(vectorPath_);
    const FrameKernels* frameKernels_ = &frameKernels(vectorPath_);
    // Per-bin work arrays shared by the voices one after the other.
    HopFeatures features_{};
    std::array<float, maxBinCount> freqEst_{}, phasorPower_{}, solverScratch_{};
    ExtraBinBands extraBands_{};
    // Sounding voices waiting for the coherence solve, one per lane, from one or more tracks
    // in track and voice order: the solve's operands, and what each voice needs after it.
    LaneSolve laneSolve_{};
    std::array<std::array<float, maxBinCount>, solveLanes> laneAmp_{}, laneNoiseFrac_{}, laneTonalWeight_{},
        laneCouplingWeight_{};
    std::array<std::array<Complex, maxBinCount>, solveLanes> laneStepPhasor_{};
    // Where each lane's operands lie and its solution goes; a lane not loaded in a solve
    // solves into unheardState_.
    std::array<LaneOperands, solveLanes> laneOperands_{};
    std::array<Complex, maxBinCount> unheardState_{};
    std::array<float, solveLanes> laneDensity_{};
    std::array<int, solveLanes> laneTrack_{};
    std::array<int, solveLanes> laneVoice_{};
    // Lanes loaded so far.
    int loadedLanes_ = 0;
    // Tracks before this one are completed in the current hop.
    int completedTracks_ = 0;
    // The track whose voices bandAccum_ and extraAccum_ sum, or -1.
    int accumTrack_ = -1;
    // Voices that ran this hop, per track (they count even when they ended before sounding;
    // voices that ended below audibility do not).
    std::array<int, trackCount> hopActive_{};
    // One track's voices summed over this hop.
    std::array<Complex, plane::bandCount> bandAccum_{};
    std::array<Complex, maxTopBin> extraAccum_{};
};

} // namespace tarvo
