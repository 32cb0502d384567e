#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "analysis/AnalysisTables.h"
#include "analysis/AudioAnalysis.h"
#include "engine/CanonicalPlane.h"

namespace tarvo::analysis {
namespace {

TEST(AnalysisTables, WindowAndLayout) {
    const AnalysisTables& t = analysisTables();
    EXPECT_EQ(t.analysisWindow[0], 0.0f);
    EXPECT_NEAR(std::accumulate(t.analysisWindow.begin(), t.analysisWindow.end(), 0.0), 2.0, 1e-5);
    for (int j = 1; j < frameLength / 2; ++j) {
        EXPECT_FLOAT_EQ(t.analysisWindow[frameLength / 2 + j], t.analysisWindow[frameLength / 2 - j]);
        EXPECT_LT(t.analysisWindow[j - 1], t.analysisWindow[j]);
    }
    EXPECT_EQ(t.bandKernels.size(), 2u * 601u);
    int binFloats = 0, powerFloats = 0;
    for (int b = 0; b < analysisBandCount; ++b) {
        EXPECT_EQ(t.binWeightCount[b], b < 9 ? 4 : 5) << b;
        EXPECT_EQ(t.powerWeightCount[b] > 0, b >= 50) << b;
        EXPECT_EQ(t.binWeightOffset[b], binFloats);
        EXPECT_EQ(t.powerWeightOffset[b], powerFloats);
        binFloats += t.binWeightCount[b];
        powerFloats += t.powerWeightCount[b];
        // Every record stays inside the spectrum.
        const int start = static_cast<int>(t.bandBinWeights[t.binWeightOffset[b]]);
        EXPECT_GE(start, 0);
        EXPECT_LE(start + t.binWeightCount[b] - 1, binCount) << b;
        if (t.powerWeightCount[b] > 0) {
            const int powerStart = static_cast<int>(t.bandPowerWeights[t.powerWeightOffset[b]]);
            EXPECT_GE(powerStart, 0);
            EXPECT_LE(powerStart + t.powerWeightCount[b] - 2, binCount) << b;
        }
        // A one-tap kernel is its own conjugate, so it must be real.
        if (t.kernelLength[b] == 1) {
            EXPECT_EQ(t.bandKernels[2 * t.kernelOffset[b] + 1], 0.0f) << b;
        }
    }
    EXPECT_EQ(static_cast<size_t>(binFloats), t.bandBinWeights.size());
    EXPECT_EQ(static_cast<size_t>(powerFloats), t.bandPowerWeights.size());
}

// Mean band energies of a unit cosine at hz over the frames where it is steady.
std::vector<double> steadyBandEnergies(double hz) {
    std::vector<float> signal(16384);
    for (size_t n = 0; n < signal.size(); ++n)
        signal[n] = static_cast<float>(
            std::cos(2.0 * 3.141592653589793 * hz * static_cast<double>(n) / analysisRate));
    const std::vector<BandFrame> frames = bandEnergies(signal);
    std::vector<double> mean(analysisBandCount, 0.0);
    int counted = 0;
    for (size_t m = 40; m + 40 < frames.size(); ++m, ++counted)
        for (int b = 0; b < analysisBandCount; ++b) mean[b] += frames[m][b];
    for (double& v : mean) v /= counted;
    return mean;
}

TEST(AnalysisTables, SineAtBandCentreLandsInThatBand) {
    for (int band = 0; band < analysisBandCount; ++band) {
        const std::vector<double> energies = steadyBandEnergies(plane::bandCentreHz(band));
        const int loudest =
            static_cast<int>(std::max_element(energies.begin(), energies.end()) - energies.begin());
        EXPECT_EQ(loudest, band);
        // Bands two or more away hear much less of it.
        for (int b = 0; b < analysisBandCount; ++b)
            if (std::abs(b - band) >= 3) {
                EXPECT_LT(energies[b], 0.1 * energies[band]) << band << " leaks into " << b;
            }
    }
}

TEST(AnalysisTables, BandsCoverTheRangeWithAFlatSum) {
    double lowest = 1e30, highest = 0.0;
    for (int step = 0; step <= 79 * 5; ++step) {
        const std::vector<double> energies = steadyBandEnergies(plane::bandCentreHz(step / 5.0));
        const double total = std::accumulate(energies.begin(), energies.end(), 0.0);
        lowest = std::min(lowest, total);
        highest = std::max(highest, total);
    }
    // A unit cosine anywhere from 24 Hz to 20 kHz gives a total band energy near 1.
    EXPECT_GT(lowest, 0.7);
    EXPECT_LT(highest, 1.2);
    EXPECT_LT(10.0 * std::log10(highest / lowest), 2.2);
}

TEST(AnalysisTables, DesignIsDeterministic) {
    const AnalysisTables again = designAnalysisTables();
    EXPECT_EQ(again.bandBinWeights, analysisTables().bandBinWeights);
    EXPECT_EQ(again.bandKernels, analysisTables().bandKernels);
    EXPECT_EQ(again.bandPowerWeights, analysisTables().bandPowerWeights);
}

} // namespace
} // namespace tarvo::analysis
