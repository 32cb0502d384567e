#pragma once
// The fixed filter tables of the audio analyser: the frame window and the three tables that
// turn a frame's 129-bin spectrum into the canonical plane's 80 band energies.
//
// Each band's energy comes from up to two parts:
// - a complex band signal: a weighted sum of a few neighbouring bins (`bandBinWeights`),
//   filtered along the frames by a complex kernel (`bandKernels`) that narrows it to the
//   band; low bands are far narrower than one bin, so their kernels are long;
// - for the 30 highest bands, which are several bins wide, a weighted sum of bin powers
//   (`bandPowerWeights`) that takes over from the complex part band by band.
//
// The tables are designed from first principles by designAnalysisTables(): every band aims
// at the power response cos^2(pi/2 (kappa(f) - b)), where kappa(f) is the fractional band
// of frequency f, so that neighbouring bands cross at half power and all bands sum to a
// flat response; a least-squares gain per band then flattens what the realisable filters
// leave over. They are computed once, at first use.
//
// Thread-safe: the tables are built on first use under the language's static-init guard and
// are read-only afterwards.

#include <array>
#include <vector>

namespace tarvo::analysis {

// Samples per analysis frame.
constexpr int frameLength = 256;
// Samples between frames; one frame of the canonical plane.
constexpr int hopLength = 64;
// Bins of a frame's spectrum, DC to Nyquist.
constexpr int binCount = frameLength / 2 + 1;
// Bands of the canonical plane.
constexpr int analysisBandCount = 80;
// Sample rate the analyser works at.
constexpr double analysisRate = 44100.0;

struct AnalysisTables {
    // A Hann bell summing to 2: 0 at index 0, peak at index 128.
    std::array<float, frameLength> analysisWindow{};
    // Per band in order: start bin, then binWeightCount[b] - 1 weights for that bin and the
    // following ones.
    std::vector<float> bandBinWeights;
    // Per band in order: kernelLength[b] complex taps as (real, imaginary) pairs; tap 0 is
    // the centre, tap n is applied n frames back and its conjugate n frames ahead.
    std::vector<float> bandKernels;
    // Per band with powerWeightCount[b] > 0, in order: start bin, gain of the complex part,
    // then powerWeightCount[b] - 2 weights for the bin powers from the start bin on.
    std::vector<float> bandPowerWeights;

    std::array<int, analysisBandCount> binWeightCount{};   // record length in bandBinWeights
    std::array<int, analysisBandCount> kernelLength{};     // complex taps in bandKernels
    std::array<int, analysisBandCount> powerWeightCount{}; // record length in bandPowerWeights, or 0
    // Offsets of each band's record in the three tables (in floats).
    std::array<int, analysisBandCount> binWeightOffset{};
    std::array<int, analysisBandCount> kernelOffset{};
    std::array<int, analysisBandCount> powerWeightOffset{};
};

// Designs all tables; deterministic. Allocates.
AnalysisTables designAnalysisTables();

// The tables, designed at first use.
const AnalysisTables& analysisTables();

// Fractional band of frequency f in Hz: 0 at 24 Hz, 79 at 20 kHz.
double bandOfFrequency(double hz);

} // namespace tarvo::analysis
