#pragma once
// Fixed scenes for measuring and guarding the engine: the kit the plug-in starts with, the
// heaviest load it can be given, and the scene whose render is kept as a reference, together
// with a CPU clock and the real-time factor of a scene.
//
// The start kit is built in code: Blobs shaped into kick, snare, hats and tom, a one-bar
// pattern at 120 BPM and effects on. `loadStartKit` is the only place that knows it, so a
// stored start preset can replace it without touching its users.
//
// Threads: everything here plays both roles of a host on the calling thread (idle ticks and
// audio blocks alternate) and allocates; use it from tools, tests and benchmarks only.

#include <cstdint>
#include <vector>

#include "engine/Blob.h"
#include "instrument/Ombrix.h"

namespace tarvo::scenes {

// Shapes the knots of a Blob into a drum hit and normalises it: time knots crowd towards
// the start (larger decay exponents give shorter sounds), frequency knots crowd around
// centre (0..1 of the band range) with a strength below 1; drift moves the centre per
// time column (negative: the pitch falls).
void shapeHit(Blob& blob, float decay, float centre, float strength, float drift);

// Loads the start kit into a plugin that has been reset: Blobs, sounds, the pattern and the
// effect slots; the sequencer stays stopped. Runs idle ticks until the effect units are in.
void loadStartKit(Ombrix& plugin);

// Loads the heaviest load: every track sounding four voices of a long Blob and every effect
// slot on with the costliest unit of its list. `notesForWorstCase` keeps the voices going.
void loadWorstCase(Ombrix& plugin);
// The MIDI notes that start (again) all 32 voices; queue them every `worstCaseRestartFrames`.
std::vector<MidiMessage> notesForWorstCase();
// Half a second at 44.1 kHz: shorter than the long Blob, so no voice ever ends.
constexpr int worstCaseRestartFrames = 22050;

// The kinds of load the benchmark measures.
enum class Load { idle, hit, pattern, worst };

// Renders seconds of audio of a scene at rate in host blocks of blockFrames and returns the
// real-time factor: seconds of audio per second of CPU time of the calling thread. The
// scene's set-up and a short warm-up are not timed.
double realtimeFactor(Load load, float rate, int blockFrames, double seconds);

// CPU time of the calling thread in seconds.
double threadCpuSeconds();

// A fixed arithmetic workload of the same kind as the engine's (complex rotations,
// divisions and square roots over 150 bins). Returns its CPU seconds; used as the yardstick
// that makes timings of different runs comparable on a shared machine.
double referenceKernelSeconds();

// The reference scene: the start kit's pattern plus notes on four more tracks that morph
// between two different Blobs and vary velocity, Timescale, Density, Frequency, Contrast and
// Transform, with all four effect slots on, idle ticks between blocks and host blocks of
// changing sizes. Returns one bar at 44.1 kHz of the main bus, left and right interleaved,
// rendered with the hop kernels of `path` (the stored reference is the baseline's).
std::vector<float> renderReferenceScene(VectorPath path = VectorPath::baseline);
constexpr int referenceRate = 44100;
// One bar of 4/4 at 120 BPM.
constexpr int referenceFrames = 2 * referenceRate;

} // namespace tarvo::scenes
