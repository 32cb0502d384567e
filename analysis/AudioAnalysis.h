#pragma once
// The analyser that turns a mono recording (typically one drum hit) into a Blob. It measures
// how the sound's energy spreads over the canonical plane's time points and 80 bands, splits
// that picture into a factor smooth along time and a factor smooth along frequency, and
// places the Blob's knots so that every grid cell holds an equal share of energy: knots crowd
// where the sound is loud and spread where it is quiet.
//
// User-interface thread (the importer) or a tool; allocates freely, touches no engine state.
// The result depends only on the input: no randomness, no global state.

#include <array>
#include <vector>

#include "analysis/AnalysisTables.h"

namespace tarvo {

class Blob;

// Analyses samples recorded at sampleRate (Hz) into blob's time and band curves, normalises
// the Blob and returns the normalisation's value. Input that is silent, trims to nothing or
// comes with an unusable sample rate (not between minAnalysisRate and maxAnalysisRate)
// returns 1 and leaves the Blob as it was.
float analyzeAudio(Blob& blob, const std::vector<float>& samples, double sampleRate);

// Sample rates the analyser takes, in Hz; the extremes of what audio files carry.
constexpr double minAnalysisRate = 1000.0;
constexpr double maxAnalysisRate = 6.0e6;

namespace analysis {

using BandFrame = std::array<float, analysisBandCount>;

// The band energies of a signal at 44100 Hz, one row per 64-sample frame ((length + 256) /
// 64 rows): windowed spectra, spectral cleaning, band filters and the cleaning of the bands.
// Frames from maxFrames on are not computed (the analyser needs only the first few hundred).
std::vector<BandFrame> bandEnergies(const std::vector<float>& signal, int maxFrames = 1 << 30);

} // namespace analysis
} // namespace tarvo
