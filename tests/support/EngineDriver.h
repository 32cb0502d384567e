#pragma once
// Drives a whole plug-in object the way hosts and users do, for the tests that run the engine
// for a long time under hostile conditions (real-time safety, thread hand-overs, soak).
//
// The audio side (`AudioDriver`) plays the host: it queues MIDI, moves the host transport
// and picks block sizes; it never allocates once constructed, so it may run inside an
// audio-thread scope. The editor side (`editorStep`) plays the user-interface and parameter
// threads: every hand-over between those threads and the audio thread gets an action there,
// so a new hand-over joins all three tests by adding one.

#include <array>
#include <cstdint>
#include <vector>

#include "instrument/Ombrix.h"

namespace tarvo::testsupport {

// A small deterministic generator (xorshift32) so that a failing run can be repeated.
class TestRandom {
public:
    explicit TestRandom(uint32_t seed) : state_(seed == 0 ? 1u : seed) {}
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // 0 <= result < n (n > 0).
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
    // Uniform in 0..1.
    float uniform() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }
    bool chance(float p) { return uniform() < p; }

private:
    uint32_t state_;
};

// Output channels of every bus, sized once for the largest block.
class OutputBuffers {
public:
    static constexpr int channelCount = 2 * Ombrix::maxOutputBuses;
    // The largest block a host may ask for.
    static constexpr int maxFrames = 8192;

    OutputBuffers();
    float* const* channels() { return pointers_.data(); }
    // Fills the first frames of every channel with a value that no renderer leaves behind.
    void poison(int frames);
    // Largest magnitude over the first frames of every channel; infinity when any sample is
    // not finite.
    float peak(int frames) const;

private:
    std::vector<std::vector<float>> data_;
    std::array<float*, channelCount> pointers_{};
};

// What one rendered block looked like.
struct BlockResult {
    int frames = 0;
    float peak = 0.0f;
};

// Plays the host's part: MIDI on every channel for every track and the transport keys,
// controllers, block sizes from 1 to 8192 and a host transport that starts, stops, jumps
// and changes tempo.
class AudioDriver {
public:
    explicit AudioDriver(uint32_t seed) : random(seed) {}

    // Audio thread: queues this block's MIDI, moves the transport and renders one block.
    // Never allocates.
    BlockResult renderBlock(Ombrix& plugin, OutputBuffers& out);
    // Audio thread: a block size; often a typical host size, sometimes anything in 1..8192.
    int pickBlockSize();

    TestRandom random;
    HostTransport transport;
    // Average number of MIDI messages per block.
    int midiPerBlock = 6;

private:
    void queueMidi(Ombrix& plugin, int frames);
    void moveTransport(int frames, float sampleRate);
};

// How wild the editor side's parameter values are.
enum class ValueRange {
    // Plain values inside each parameter's range and normalized values inside 0..1.
    valid,
    // Also values outside the ranges, NaN and infinities.
    hostile,
};

// Fills every track with a few notes so that the sequencer has work from the first block.
// User-interface thread; takes the sequencer's lock.
void fillPatterns(StepSequencer& sequencer, TestRandom& random);

// Gives both Blob slots of every track a sound, publishes them and installs the effect units
// the slots' "Type" parameters ask for: what the first idle ticks after loading a kit do.
// User-interface thread; allocates.
void loadKit(Ombrix& plugin, TestRandom& random);

// One random action of the user-interface or parameter thread: a parameter write (engine or
// sequencer), a note edit, a track length edit, a Play button press, a Blob edit, an effect
// type change, a host state load (of the current state or one saved some steps before), an
// idle tick (effect swaps and Blob publication). Allocates nothing on the audio side.
// Returns true when the step loaded a state, which replaces the note arrays under the
// sequencer's lock.
bool editorStep(Ombrix& plugin, TestRandom& random, ValueRange range);

// A parameter value of the given range kind for p.
float randomValue(const Param& p, TestRandom& random, ValueRange range);

} // namespace tarvo::testsupport
