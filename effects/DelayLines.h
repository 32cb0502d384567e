#pragma once
// Delay-line building blocks of the time-based effect units: a circular line written block
// by block, a reader that glides to a new delay time by changing its reading speed (like a
// tape machine) instead of jumping, a 45-degree rotation stage, a Schroeder all-pass stage
// and a multichannel pre-delay that cross-fades when its time changes.
//
// Lines are sized on the user-interface thread (a unit's `setSampleRate`, which allocates);
// everything else runs on the audio thread on blocks of at most 64 frames, never allocates,
// and ramps its gains across the block.

#include <vector>

namespace tarvo {

// e^-x for x >= 0, cheap enough for per-block gain targets.
inline float expDecay(float x) noexcept {
    return 1.0f / (((x * 0.1666f * x + 0.5f) * x + 1.0f) * x + 1.0f);
}

// A reading position into a `DelayLine`. A line carries one of its own; units that read a
// line at several taps keep one per tap.
struct DelayReader {
    // Where the next sample is read; negative until the reader is placed. Kept in double so
    // that small speed changes still move it at the far end of a long line.
    double readPos = -1.0;
    // Positions advanced per output sample.
    float speed = 1.0f;
    // The line's write index as this reader last saw it; negative until placed.
    int writeSeen = -1;

    // Forgets the position, so the next read places the reader exactly at its delay.
    void restart() noexcept {
        readPos = -1.0;
        speed = 1.0f;
        writeSeen = -1;
    }
};

// One channel of delay. `buffer` holds N usable samples plus 4 guard samples repeating the
// first 4, so the 4-point interpolation never wraps.
class DelayLine {
public:
    // Entries past the usable length that mirror the first entries.
    static constexpr int guardSamples = 4;

    // User-interface thread, allocates: total size in samples including the guard (at least
    // one usable sample); contents cleared, write position 0.
    void setSize(int totalSize);
    // User-interface thread, allocates: room for `seconds` at `sampleRate`.
    void setSeconds(float seconds, float sampleRate) {
        setSize(static_cast<int>(seconds * sampleRate) + guardSamples);
    }
    // Audio thread: zeroes the samples and puts the line's own reader back to its first
    // placement. The write position stays, so other readers of the line stay in step.
    void clear() noexcept;
    // Usable length N.
    int length() const noexcept { return usable; }

    // Audio thread: appends n samples at the write position.
    void write(const float* samples, int n) noexcept;

    DelayReader reader;
    std::vector<float> buffer;
    int writeIndex = 0;
    // Gain of the last block's decay ramp.
    float gain = 1.0f;

private:
    int usable = 0;
};

// Reads n samples at `delay` samples behind the writer, gliding towards a changed delay by
// reading faster or slower (half to double speed) and ramping the gain to expDecay(delay x
// decay). Requests beyond the line are held at its end. Uses the line's own reader unless
// `reader` is given.
void readVarispeed(DelayLine& line, float* output, int n, float delay, float decay,
                   DelayReader* reader = nullptr) noexcept;

// Energy-preserving stage: c0 goes into the line, the line's output `delay` samples later is
// rotated by 45 degrees against c1, with gain expDecay(delay x decay).
void rotate(DelayLine& line, float* c0, float* c1, int n, int delay, float decay) noexcept;

// Schroeder all-pass of `delay` samples on x in place, the delayed signal scaled by
// expDecay(delay x decay).
void allpass(DelayLine& line, float* x, int n, int delay, float coefficient, float decay) noexcept;

// Multichannel delay whose changes of delay time cross-fade over 64 samples.
class CrossfadeDelay {
public:
    // Samples of one cross-fade.
    static constexpr int fadeSamples = 64;

    // User-interface thread, allocates: every ring sized to `length` and cleared.
    void setSize(int length, int channels);
    // Audio thread: zeroes the rings and the write position.
    void clear() noexcept;
    // Audio thread: appends n samples per channel.
    void write(const float* const* inputs, int n) noexcept;
    // Audio thread, after `write` of the same n: the n samples `delay` samples old. Delays
    // are held between 0 and what the ring keeps for a block of n.
    void read(float* const* outputs, int n, int delay) noexcept;

    float step = 1.0f / fadeSamples;
    int length = 0;
    int channels = 0;
    std::vector<std::vector<float>> rings;
    int writeIndex = 0;
    // Delay in use; -1 until the first read.
    int current = -1;
    // Delay being faded to; -1 when no fade runs.
    int next = -1;
    // Progress of the running fade, 0 to 1.
    float fade = 0.0f;

private:
    float sampleAt(int channel, int end, int j, int delay) const noexcept;
};

} // namespace tarvo
