#pragma once
// Engine preparation for a sample rate: the length of the hop and of the bank's FFT, how the
// 80 Blob bands sit on the FFT's bins, the per-band constants of the voice synthesis, the
// initial noise spectrum of the voices, the shared Gaussian noise table, the two windows and
// the engine's seed rules.
//
// The hop and the FFT follow the rate: a hop lasts about 1.45 ms and a bin is about 172 Hz
// wide at every rate, as at 44.1 kHz (64 and 256 samples there). So the voices see a Blob on
// the same grid in time and frequency at every rate, and a kit sounds the same. Where no hop
// length FFTW transforms fast comes within 1 % of that (32 kHz: 45 samples are 3 % short),
// the grid runs at the next multiple of 22.05 kHz instead, where it fits exactly, and the
// banks resample their output to the rate: what a sound holds below its pitch, made where
// several bands share the lowest bins, moves by several dB with any change of the grid.
//
// Bands narrow enough to fall between two bins (narrower than 1.3 bins) are synthesized as
// resonators spread onto their two neighbouring bins; above them every bin up to about
// 21 kHz is synthesized directly as an "extra bin" that reads the band frames by
// interpolation.
//
// Threads: `EngineTables::prepare` runs while no block is processed (the host's reset) and
// does not allocate apart from planning one temporary FFT. The tables are then read-only.

#include <array>
#include <complex>
#include <cstdint>
#include <vector>

#include "engine/CanonicalPlane.h"

namespace tarvo {

using Complex = std::complex<float>;

// FFT and hop at 44.1 kHz, the rate the Blob's frames are measured at: every other rate keeps
// their lengths in seconds.
constexpr int fftSize = 256;
constexpr int fftHalf = fftSize / 2;
constexpr int hopSize = 64;
constexpr double gridSampleRate = 44100.0;
// The FFT spans four hops at every rate.
constexpr int hopsPerFft = fftSize / hopSize;
// Hop lengths the preparation chooses from: enough for 8 to 384 kHz and the rates around.
constexpr int minHopFrames = 4;
constexpr int maxHopFrames = 1024;

// Bins synthesized at most: at 44.1 kHz the bins up to about 21 kHz are 122; other rates
// round their hop to a length FFTW transforms fast, which widens a bin by a few per cent.
constexpr int maxTopBin = 144;
// Bins a voice synthesizes at 44.1 kHz: 50 bands and 100 extra bins.
constexpr int gridBinCount = 150;
// Most bins a voice synthesizes: every band plus every extra bin below maxTopBin.
constexpr int maxBinCount = plane::bandCount + maxTopBin;
// Entries of the shared noise table.
constexpr int noiseTableSize = 2048;

// One directly synthesized bin above the resonator bands.
struct ExtraBin {
    int32_t band = 0;  // lower of the two bands it reads (0..78)
    float w0 = 0.0f;   // weight of `band`
    float w1 = 0.0f;   // weight of `band` + 1
    float gain = 0.0f; // converts band power density into this bin's amplitude
};

// Everything that depends on the sample rate. Fixed capacity, so preparing never resizes.
struct EngineTables {
    double sampleRate = 0.0; // the rate the engine plays at
    // The rate the hop grid runs at: sampleRate, or the multiple of 22.05 kHz the banks
    // resample from (see gridRateFor). Every length and per-hop constant below is in its
    // samples.
    double gridRate = 0.0;
    // With a grid rate of its own: the step of one output sample in grid samples, in 32.32
    // fixed point, so that the renderer's hop clock and every bank count alike to the sample.
    int64_t gridStepFx = 0;
    int hopFrames = hopSize; // grid samples per hop
    int bankSize = fftSize;  // FFT length of the resynthesis bank: four hops
    int bankHalf = fftHalf;  // its bins below Nyquist
    int bandCount = 0;       // leading bands synthesized as resonators
    int topBin = 0;          // one past the last synthesized bin
    int firstExtraBin = 0;   // first directly synthesized bin
    int extraCount = 0;      // directly synthesized bins, firstExtraBin .. topBin - 1
    int binCount = 0;        // bandCount + extraCount: the voices' per-bin state length
    // Offsets into the noise table a hop's noise may start at: the range of 44.1 kHz wherever
    // the bins fit, so that every rate plays the same noise.
    int noiseStarts = noiseTableSize - gridBinCount;

    // Per resonator band k < bandCount.
    std::array<int32_t, plane::bandCount> bandBin{};  // the bin below the band centre
    std::array<float, plane::bandCount> weightLow{};  // share of bandBin[k]
    std::array<float, plane::bandCount> weightHigh{}; // share of bandBin[k] + 1
    std::array<Complex, plane::bandCount> rot{};      // per-hop resonator rotation and decay
    std::array<float, plane::bandCount> drive{};      // resonator input gain, sqrt(1 - |rot|^2)
    // For all 80 bands: c0, c1, c2 of the band-centre frequency in cycles per hop as a
    // quadratic in the offset from band k.
    std::array<std::array<float, 3>, plane::bandCount> freqPoly{};
    std::array<ExtraBin, maxTopBin> extraBins{};
    // The extra bins' bands in groups of extraGroupSize consecutive bins, for loops that read
    // a group's bands with one vector load and a permutation: the band a group's loads start
    // at (they read extraGroupSize + 1 bands from it), or -1 where its bins' bands lie further
    // apart; and each bin's band less its group's.
    static constexpr int extraGroupSize = 8;
    std::array<int32_t, maxTopBin / extraGroupSize> extraGroupBand{};
    std::array<int32_t, maxTopBin> extraBandInGroup{};

    // Initial noise-resonator state of every voice: bands first, then extra bins.
    std::array<Complex, maxBinCount> initialSpectrum{};

    // The preparation generator. It carries on across preparations, so every preparation
    // starts the voices from a different (but reproducible) initial spectrum.
    uint32_t preparationGenerator = 12345;

    // Host reset; plans a temporary FFT. Returns false and changes nothing when sampleRate is
    // not a finite positive number.
    bool prepare(double sampleRate);

    // Whether the banks resample from the grid rate to the sample rate.
    bool resampled() const { return gridRate != sampleRate; }
};

// Fractional bits of EngineTables::gridStepFx and of the banks' read positions.
constexpr int gridStepBits = 32;
// How far the hop at a rate may be from one hop at 44.1 kHz in seconds before the grid runs
// at a rate of its own: 48 kHz and its multiples (0.5 %) play on their own rate.
constexpr double maxHopMismatch = 0.01;

// Samples per hop at a rate: the length nearest to one hop at 44.1 kHz in seconds among those
// whose prime factors are 2, 3, 5 and 7 (so the bank's FFT stays fast), within
// minHopFrames .. maxHopFrames. 64 at 44.1 kHz, 70 at 48 kHz, 140 at 96 kHz.
int hopFramesForRate(double sampleRate);
// The rate the hop grid runs at for a sample rate: the rate itself where hopFramesForRate
// comes within maxHopMismatch of one hop at 44.1 kHz, else the lowest multiple of 22.05 kHz
// by a power of two at or above it (32 kHz: 44.1 kHz), whose hop fits exactly.
double gridRateFor(double sampleRate);

// Analysis window (sum 2.0, peak 0.016873647 at index 128), used for the initial spectrum.
const std::array<float, fftSize>& analysisWindow();
// Synthesis table (sum 4962.314, peak 45.588955 at index 128); the bank uses it divided by
// 256. Four copies a hop apart sum to 77.39 .. 77.71.
const std::array<float, fftSize>& synthesisTable();
// The synthesis table's shape over n points (the table above for n = 256): it keeps its peak
// and the sum of four copies a quarter of n apart. Allocates.
std::vector<float> synthesisTable(int n);

// 2048 correlated complex Gaussian samples shared by every voice of every engine; built at
// compile time, read-only.
extern const std::array<Complex, noiseTableSize> noiseTable;

// One step of the engine's 32-bit linear congruential generator.
constexpr uint32_t lcgNext(uint32_t x) {
    return x * 1664525u + 1013904223u;
}

// Noise seed of voice k (counted track by track) after an engine reset with seed: the
// generator advanced k times, so voice 0 of track 0 gets the seed itself.
constexpr uint32_t voiceSeed(uint32_t seed, int k) {
    for (int i = 0; i < k; ++i) seed = lcgNext(seed);
    return seed;
}

} // namespace tarvo
