#pragma once
// Reads a voice's pair of Blobs (slots A and B) as a sequence of 80-band power frames, one
// per hop: morph between A and B, playback rate, frequency shift, contrast, loudness
// normalisation and the velocity model's corrections. After the plane's end (warped frame 96)
// a decaying tail follows.
//
// Audio thread only. Nothing here allocates or waits; every list has a fixed size.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "engine/Blob.h"
#include "engine/CanonicalPlane.h"
#include "engine/VectorPath.h"

namespace tarvo {

// Incremental inverse of a monotone knot list: the fractional knot index at which the list
// reaches a value S, for S that never decreases. Between knots it interpolates with a
// rational curve whose slopes match at the knots, so uneven spacing reads smoothly; for
// even spacing it is exactly linear. The knot widths are taken at reset, so the source lists
// may change afterwards.
class WarpInverse {
public:
    // Largest list handled: the 49 frequency knots and two sentinels above them.
    static constexpr int maxKnots = Blob::freqKnotCount + 2;

    // Starts on the list morphed between a and b (n knots each) with weight x of b.
    void reset(const float* a, const float* b, int n, float x) noexcept;
    // The fractional index at which the list reaches s; s must not decrease between calls.
    float evaluate(float s) noexcept;
    // For a single list of n knots, whose widths are floored just above zero so that knots
    // may touch: the fractional indices out[0 .. count) at the values s[0 .. count), which
    // must not decrease (count up to plane::bandCount + 1). The segments' curves are worked
    // out all at once rather than one at a time as the values pass them.
    static void evaluateRising(const float* knots, int n, const float* s, int count, float* out) noexcept;
    // The steepest slope (knots per unit of s) the curve can still take from fractional index
    // `index` on: the inverse of the narrowest segment from the one before index to the end.
    // A knot's slope lies between those of the segments on either side of it, so the segment
    // before index bounds where the present one starts.
    float steepestFrom(float index) const noexcept;

private:
    void start() noexcept;

    std::array<float, maxKnots - 1> widths_{};
    float first_ = 0.0f;
    int n_ = 0;
    int i_ = -1;
    float segmentStart_ = 0.0f; // T
    float indexBase_ = 0.0f;    // U
    float wPrev_ = 0.0f;
    float w_ = 1.0f;
    float wNext_ = 1.0f;
    float p_ = 0.0f;
    float q_ = 0.0f;
    float r_ = 0.0f;
    float d_ = 0.0f;
};

// The random generator of the Blob tail: an xorshift shared by all readers of one engine, so
// a state renders the same tail every time. Audio thread only.
struct TailNoise {
    static constexpr uint32_t seed = 123;
    uint32_t state = seed;

    void reset() noexcept { state = seed; }
    // Next value in 0..1.
    float next() noexcept {
        state ^= state << 5;
        state ^= state >> 7;
        return static_cast<float>(state) * 2.3283e-10f;
    }
};

// Controls a voice sets before every frame.
struct FrameControls {
    float transform = 0.0f; // morph position 0 (A) .. 1 (B)
    float freqShift = 0.0f; // bands, positive is up
    float contrast = 0.0f;  // -1 .. 1
};

// What turns a frame's frequency knots into its band powers, besides the knots.
struct FrameBandInputs {
    const float* rowSpeed; // the time rows' speeds, BlobReader::rowCount of them
    float shift;           // frequency shift in bands, finite
    int low, top;          // the bands that read the plane; the others are silent
    float contrast;        // -1 .. 1
    float gain;            // loudness gain
    const float* bandGain; // the velocity model's gain per band, or null
};

// The reader's per-frame band work, compiled for each vector path.
struct FrameKernels {
    // Frequency knots 0 .. 47 of a frame from the rows' column positions (rowCount of them),
    // morphed with weight x of B.
    void (*knots)(const Blob& a, const Blob& b, float x, const float* rowColumn, float* knots) noexcept;
    // Keeps the knots (WarpInverse::maxKnots of them) in order and writes the frame's band
    // powers to out[0 .. bandCount); knot 48 is replaced on the way.
    void (*bands)(const FrameBandInputs& in, float* knots, float* out) noexcept;
    // WarpInverse::evaluateRising.
    void (*evaluateRising)(const float* knots, int n, const float* s, int count, float* out) noexcept;
    // How the band work finds the knot segments of the bands and their edges: for each of the
    // values first + i - shift (i in 0 .. count, count up to plane::bandCount + 1), how far a
    // walk up the thresholds t[0 .. n) gets (n up to WarpInverse::maxKnots), moving on while
    // the value reaches the next threshold, into reached[0 .. count).
    void (*thresholdsReached)(int first, int count, float shift, const float* t, int n,
                              int* reached) noexcept;
};

// The path's frame kernels; the baseline's when the path is not available.
const FrameKernels& frameKernels(VectorPath path) noexcept;

class BlobReader {
public:
    // Time rows read per frame (one per row of the Blob's time warps).
    static constexpr int rowCount = Blob::timeRowCount;

    // Sets up a note: b may be null (A is then read alone); model is a velocity model index,
    // negative for none; dynGain is the velocity amplitude factor.
    void start(const Blob* a, const Blob* b, float transform, int model, float velocity,
               float dynGain) noexcept;

    // Replaces the Blobs read between frames (newer published copies). The time rows keep the
    // shape they were started with.
    void setBlobs(const Blob* a, const Blob* b) noexcept;

    // Advances by `rate` linear frames (greater than 0) and writes the frame's band powers
    // to out[0 .. bandCount). The band work runs on the given kernels; what measures a Blob
    // (its energy, the outline, analysis) keeps the baseline's, so that every processor
    // derives the same values.
    void renderFrame(float rate, const FrameControls& controls, TailNoise& noise, float* out) noexcept {
        renderFrame(rate, controls, noise, out, frameKernels(VectorPath::baseline));
    }
    void renderFrame(float rate, const FrameControls& controls, TailNoise& noise, float* out,
                     const FrameKernels& kernels) noexcept;

    // Advances exactly as renderFrame does (time, row speeds, the tail and its noise) without
    // computing the bands, for a voice that no longer sounds but keeps its clocks running.
    void skipFrame(float rate, const FrameControls& controls, TailNoise& noise) noexcept;

    // 1.0 for voices.
    float loudness = 1.0f;
    // The engine's hops per hop at the Blob's own rate (sample rate / 44100); the voice sets it
    // before start. A frame's loudness comes from the knot speed squared, so it depends on the
    // span the speed is measured over: at higher rates the speed is measured over the frames
    // of the last hop at the Blob's rate, at lower rates as the mean over steps of that length.
    // So every rate plays a Blob at the level and balance 44.1 kHz plays it; 1 reads as the
    // Blob was measured.
    float hopScale = 1.0f;

    // Warped frame position of the latest frame.
    float lastPos() const noexcept { return lastPos_; }
    // Linear frame position (sum of all rates).
    float timePos() const noexcept { return timePos_; }
    // Square of the largest row speed in the tail; 1 before it. The voice ends when this,
    // times its release gain, is negligible.
    float tailLevel() const noexcept { return tailLevel_; }
    // Largest row speed of the latest frame; every band of a frame scales with the speeds of
    // the rows around it.
    float frameSpeed() const noexcept;
    // Largest row speed a later frame can reach. In the tail the speeds only decay; on the
    // plane they follow the narrowest time segment still ahead of each row. A velocity model
    // remaps time and may speed a row up, so on the plane it bounds nothing (maxRowSpeed).
    float speedAhead() const noexcept;

private:
    // The time part of a frame: moves the time position on by rate, then the rows' knots and
    // speeds (on the plane) or the tail's decay; returns the new warped position. lastPos_
    // still holds the previous one.
    float advanceRows(float rate, float x, TailNoise& noise) noexcept;
    // Steps kept for measuring speeds over more than one step: enough for 384 kHz.
    static constexpr int historySize = 12;
    // Where a row's time knots stood after an earlier frame.
    struct PastFrame {
        float timePos = 0.0f;
        float pos = 0.0f;
        std::array<float, rowCount> knot{};
    };

    // The positions the rows read at warped position pos (the velocity model's time remap).
    void rowPositions(float pos, int layer, float layerFrac,
                      std::array<float, rowCount>& positions) const noexcept;
    // Row speeds over more than this step: from the remembered frame at linear position from.
    void measureSpeedsSince(float from, float pos, const std::array<float, rowCount>& knots) noexcept;
    void applyModelOffsets(int layer, float layerFrac) noexcept;

    const Blob* blobA_ = nullptr;
    const Blob* blobB_ = nullptr;
    std::array<WarpInverse, rowCount> rowReaders_{};
    float lastPos_ = 0.0f;
    float timePos_ = 0.0f;
    float tailLevel_ = 1.0f;
    int model_ = -1;
    // The velocity model's layer for the note's velocity and the weight of the next one.
    int layer_ = 0;
    float layerFrac_ = 0.0f;
    float dynGain_ = 1.0f;
    // The velocity model's gain per band.
    std::array<float, plane::bandCount> modelGainPerBand_{};
    // Band positions of the 49 frequency knots of the current frame and two sentinels above.
    std::array<float, WarpInverse::maxKnots> knotBands_{};
    // The model's frequency offset per row, with one extrapolated entry at each end.
    std::array<float, rowCount + 2> rowOffsets_{};
    std::array<float, rowCount> rowKnot_{};
    std::array<float, rowCount> rowSpeed_{};
    // The latest frames, newest at pastNewest_.
    std::array<PastFrame, historySize> past_{};
    int pastNewest_ = 0;
    int pastCount_ = 0;
    std::array<float, rowCount> rowColumn_{};
};

// Linear frames to advance per hop at warped position lastPos: the first 5 frames of a sound
// play at the Blob's own speed, "Timescale" fades in over frames 5 to 15, and from the first
// frame on the rate follows the sample rate and the engine's hop (hopFrames samples) so that a
// frame keeps its length in seconds.
float playbackRate(float lastPos, float timescale, float sampleRate, int hopFrames = 64) noexcept;

// "Density" (-1..1) against the tonal weight of a band: the fraction of the band's amplitude
// that drives the noise resonator. -1 gives none, +1 all.
inline float densityNoiseFraction(float density, float tonal) noexcept {
    return (std::abs(density) - 1.0f) * tonal + (std::min(density, 0.0f) + 1.0f);
}

// "Density" (-1..1): the scale of the tonal part; 0 at +1, where only noise remains.
inline float densityTonalScale(float density) noexcept {
    const float up = std::max(density, 0.0f);
    return std::sqrt(1.0f - up * up);
}

} // namespace tarvo
