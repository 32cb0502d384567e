#pragma once
// The per-hop spectral kernel of one voice: from the three latest band power frames to the
// complex bin values the voice adds to its track's resynthesis bank.
//
// Three components are kept per bin: a tonal part whose phase advances by a frequency
// estimated from the frame's peak shape, a coherent-transient part that couples
// neighbouring bins with a phase step estimated from the rise over time, and a noise part
// from a damped complex resonator driven by the shared noise table. A per-band classifier
// decides from three consecutive frames how tonal and how transient each band is.
//
// Audio thread only; nothing here allocates. Work arrays are owned by the caller, sized
// at engine preparation and shared by the voices one after the other.

#include <array>
#include <cstdint>

#include "engine/EngineSetup.h"
#include "engine/VectorPath.h"

namespace tarvo {

// Bands of the plane, plus a low and a high guard in a frame record.
static constexpr int frameBands = 80;
static constexpr int guardedFrameSize = frameBands + 2;

// Unit phasor of a fraction of a turn w in [0, 1), from the engine's polynomial; its
// magnitude is close to, but not exactly, 1.
Complex turnPhasor(float w) noexcept;

// Classifier features of the 79 band pairs (entry 79 copies 78 for the extra bins).
struct HopFeatures {
    float toneF[frameBands];
    float toneT[frameBands];
    float tonal[frameBands];
    float freq[frameBands]; // cycles per hop
    float step[frameBands]; // phase step between neighbouring bins, turns
};

// Computes the features from the oldest, middle and newest guarded frames (82 floats:
// low guard, bands 0..79, high guard). freqPoly holds three coefficients per band.
void computeHopFeatures(const float* oldest, const float* middle, const float* newest,
                        const std::array<std::array<float, 3>, frameBands>& freqPoly,
                        HopFeatures& out) noexcept;

// Sets a frame's guards from its edge bands.
void setFrameGuards(float* guardedFrame) noexcept;

// Band values spread onto the extra bins once per hop: entry e of `low` holds the value of
// extra bin e's lower band, `high` that of the band above it. The extra-bin loop then reads
// every operand contiguously instead of through the band index, and vectorises.
struct SpreadBands {
    float low[maxTopBin];
    float high[maxTopBin];
};
struct ExtraBinBands {
    SpreadBands power; // the sounding frame's band values
    SpreadBands toneF;
    SpreadBands toneT;
    SpreadBands tonal;
    SpreadBands freq;
    SpreadBands step;
};

// Per-bin work space, binCount entries each.
struct HopWork {
    float* amp;
    float* noiseFrac;
    float* tonalWeight;    // a
    float* couplingWeight; // e
    float* freqEst;
    Complex* stepPhasor;
    float* phasorPower;
    float* solverScratch;
    ExtraBinBands* extraBands;
};

// The voice's per-bin memory.
struct VoiceBins {
    Complex* binState;
    Complex* noiseState;
    uint32_t* seed;
};

// Runs the noise generator, the resonators, the per-bin targets, the tonal prediction, the
// coherence solve and the amplitude and noise mixing. middle is the guarded frame that
// sounds now; density is "Density" / 100 clamped to -1..1. The same as prepareVoiceHop,
// coherenceSolve and finishVoiceHop one after the other.
void synthesizeVoiceHop(const EngineTables& tables, const HopFeatures& features, const float* middle,
                        float density, bool firstHop, VoiceBins voice, HopWork work) noexcept;

// The steps before the coherence solve: noise, resonators, per-bin targets and the tonal
// prediction. Leaves the solve's inputs in work and the predicted state in voice.binState.
void prepareVoiceHop(const EngineTables& tables, const HopFeatures& features, const float* middle,
                     float density, bool firstHop, VoiceBins voice, HopWork work) noexcept;

// The step after it: scales each bin's solved state to its amplitude and adds the noise.
void finishVoiceHop(int binCount, float density, const float* amp, const float* noiseFrac,
                    VoiceBins voice) noexcept;

// Replaces x by the y minimising sum a|y - x|^2 + sum e|y[j+1] - P[j] y[j]|^2.
void coherenceSolve(int n, const float* a, const float* e, const Complex* phasor, const float* phasorPower,
                    Complex* y, float* scratch) noexcept;

// The solve is a chain of dependent divisions from bin to bin: one voice keeps the divider
// waiting on latency. Independent voices solved side by side, one per lane of a vector,
// take about the time of one: eight lanes fill an AVX2 vector, and make two independent
// chains of SSE2 vectors that the processor runs overlapped. Each lane does the same
// operations in the same order as coherenceSolve, so its result is the same to the bit.
constexpr int solveLanes = 8;

// The solve's operands of up to solveLanes voices, bin by bin: row j holds bin j of every
// lane, so the lanes of one bin sit next to each other.
struct alignas(sizeof(float) * solveLanes) LaneSolve {
    using Row = float[solveLanes];
    Row a[maxBinCount];        // tonal weight
    Row e[maxBinCount];        // coupling weight
    Row phasorRe[maxBinCount]; // phase-step phasor
    Row phasorIm[maxBinCount];
    Row yRe[maxBinCount]; // the state, replaced by the solution
    Row yIm[maxBinCount];
    Row s[maxBinCount]; // accumulated weight of the forward sweep
};

// Where one voice's solve operands lie after prepareVoiceHop (its work's weights and phasor,
// and its state), and where its solution goes.
struct LaneOperands {
    const float* tonalWeight;
    const float* couplingWeight;
    const Complex* stepPhasor;
    Complex* state;
};

// Copies the operands of solveLanes voices (n bins each) into the lanes, and their solutions
// back. Every entry must point at n valid bins; a lane that is not loaded points at operands
// of its own and at a state that nothing else reads.
void loadSolveLanes(int n, const LaneOperands* voices, LaneSolve& solve) noexcept;
void storeSolveLanes(int n, const LaneOperands* voices, const LaneSolve& solve) noexcept;

// coherenceSolve on every lane at once, when any of the first `lanes` is loaded. Lanes that
// were not loaded hold earlier operands; they are solved too, and their results are ignored.
void coherenceSolveLanes(int n, LaneSolve& solve, int lanes = solveLanes) noexcept;

// The hop kernels of one path; the engine calls them through this table.
struct HopKernels {
    decltype(&computeHopFeatures) features;
    decltype(&prepareVoiceHop) prepare;
    decltype(&finishVoiceHop) finish;
    decltype(&loadSolveLanes) loadLanes;
    decltype(&storeSolveLanes) storeLanes;
    decltype(&coherenceSolveLanes) solve;
};

// The path's kernels; the baseline's when the path is not available.
const HopKernels& hopKernels(VectorPath path) noexcept;

} // namespace tarvo
