#pragma once
// Engine preparation for a sample rate: how the 80 Blob bands sit on the 256-point FFT's bins,
// the per-band constants of the voice synthesis, the initial noise spectrum of the voices,
// the shared Gaussian noise table, the two fixed windows and the engine's seed rules.
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

#include "engine/CanonicalPlane.h"

namespace tarvo {

using Complex = std::complex<float>;

// Per-hop FFT geometry shared by the bank and the tables.
constexpr int fftSize = 256;
constexpr int fftHalf = fftSize / 2;
constexpr int hopSize = 64;

// Highest bin synthesized at low rates: bins from here up are never used.
constexpr int maxTopBin = fftHalf;
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
    double sampleRate = 0.0;
    int bandCount = 0;     // leading bands synthesized as resonators
    int topBin = 0;        // one past the last synthesized bin
    int firstExtraBin = 0; // first directly synthesized bin
    int extraCount = 0;    // directly synthesized bins, firstExtraBin .. topBin - 1
    int binCount = 0;      // bandCount + extraCount: the voices' per-bin state length

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

    // Initial noise-resonator state of every voice: bands first, then extra bins.
    std::array<Complex, maxBinCount> initialSpectrum{};

    // The preparation generator. It carries on across preparations, so every preparation
    // starts the voices from a different (but reproducible) initial spectrum.
    uint32_t preparationGenerator = 12345;

    // Host reset; plans a temporary FFT. Returns false and changes nothing when sampleRate is
    // not a finite positive number.
    bool prepare(double sampleRate);
};

// Analysis window (sum 2.0, peak 0.016873647 at index 128), used for the initial spectrum.
const std::array<float, fftSize>& analysisWindow();
// Synthesis table (sum 4962.314, peak 45.588955 at index 128); the bank uses it divided by
// 256. Four copies a hop apart sum to 77.39 .. 77.71.
const std::array<float, fftSize>& synthesisTable();

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
