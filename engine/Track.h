#pragma once
// The records of the engine's tracks and voices. A track owns two Blob slots, one
// resynthesis bank and four voices; a voice reads the track's Blobs through its own reader
// and keeps the per-bin memory of its phase vocoder.
//
// Threads: construction allocates (the bank plans its FFT) and happens with the engine.
// Everything else here is plain data that only the audio thread changes, apart from the
// Blob slots' working copies (user-interface thread, see BlobSlots.h) and the velocity
// curve, which the editor edits without a lock (see Curve.h).

#include <array>
#include <cstdint>

#include "control/Curve.h"
#include "control/ModSystem.h"
#include "engine/BlobReader.h"
#include "engine/BlobSlots.h"
#include "engine/EngineSetup.h"
#include "engine/HopSynthesis.h"
#include "engine/ResynthBank.h"

namespace tarvo {

struct Voice {
    // Values of `state`.
    static constexpr int32_t stateFree = 0, stateHeld = 1, stateReleased = 2;
    // Band power frames kept: the three a hop reads and the one being written.
    static constexpr int frameRingSize = 4;

    float age = 0.0f;             // seconds since the note started
    float releaseProgress = 0.0f; // 0 until note off, 1 when the release has run out
    float damping = 0.0f;         // grows after note off, dulls high bands
    int32_t state = stateFree;
    // Latest band power frames, each with a low guard, bands 0..79 and a high guard.
    std::array<std::array<float, guardedFrameSize>, frameRingSize> frames{};
    // The reader's largest row speed when each frame was read (see BlobReader::frameSpeed).
    std::array<float, frameRingSize> frameSpeeds{};
    int32_t frameIndex = 0;   // slot of the next frame
    int32_t framesFilled = 0; // frames in the ring, 0..4
    // Hops in a row in which the voice and everything it would still play were inaudible.
    int32_t quietHops = 0;
    // 1 once the voice has ended below audibility: it synthesizes nothing more, but its clocks
    // (Blob position, tail noise, release, modulation sources, noise seed) run on until its
    // sound would have ended, so that every later note sounds as it would have.
    int32_t inaudible = 0;
    // Per bin: the last output value (tonal and transient memory) and the noise resonator.
    std::array<Complex, maxBinCount> binState{};
    std::array<Complex, maxBinCount> noiseState{};
    BlobReader reader;
    ModSourceState modState;
    float velocity = 0.0f;       // 0..1
    float curvedVelocity = 0.0f; // velocity through the track's velocity curve
    float pressure = 0.0f;       // polyphonic pressure
    float dynGain = 1.0f;        // velocity amplitude factor
    int32_t note = 0;
    int32_t channel = 0;
    int32_t track = 0;
    int32_t newNote = 0; // 1 until the voice's first hop has run
    uint32_t seed = 0;   // noise generator state

    // Forgets the sound: no tonal or noise memory.
    void clearBins() noexcept {
        binState.fill({});
        noiseState.fill({});
    }
};

struct Track {
    static constexpr int voiceCount = 4;

    Track() {
        // A new track plays velocities as they come.
        const CurvePoint straight[2] = {{0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 0.0f}};
        velocityCurve.setPoints(straight, 2);
        velocityCurve.changed = 0;
    }

    // Working Blobs and the copies published to the audio thread.
    TrackBlobs blobs;
    float lastVelocity = 0.0f; // velocity of the latest note on, for the editor
    ResynthBank resynth;
    Curve velocityCurve;
    std::array<Voice, voiceCount> voices{};
    int32_t voicesInUse = 0;  // one more than the highest voice that may sound
    int32_t activeVoices = 0; // voices synthesized in the latest hop
};

} // namespace tarvo
