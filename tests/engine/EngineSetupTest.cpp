#include "engine/EngineSetup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

namespace tarvo {
namespace {

using plane::bandCentreHz;
using plane::bandWidthHz;

constexpr double twoPi = 6.283185307179586476925286766559;

EngineTables preparedAt(double rate) {
    EngineTables tables;
    EXPECT_TRUE(tables.prepare(rate));
    return tables;
}

TEST(EngineSetup, BandLayoutAtCommonRates) {
    // The hop and the FFT keep their lengths in seconds: 44.1 kHz's layout at its multiples,
    // nearly it at 48 kHz and its multiples (a bin 0.5 % wider). 8 and 32 kHz have no fast
    // length near it (12 and 45 samples are 3 % off) and run the grid of 22.05 and 44.1 kHz.
    struct Case {
        double rate, gridRate;
        int hopFrames, bankSize, bandCount, firstExtraBin, topBin, extraCount, binCount;
    };
    const Case cases[] = {
        {8000.0, 22050.0, 32, 128, 50, 22, 64, 42, 92},
        {22050.0, 22050.0, 32, 128, 50, 22, 64, 42, 92},
        {32000.0, 44100.0, 64, 256, 50, 22, 122, 100, 150},
        {44100.0, 44100.0, 64, 256, 50, 22, 122, 100, 150},
        {48000.0, 48000.0, 70, 280, 50, 22, 123, 101, 151},
        {88200.0, 88200.0, 128, 512, 50, 22, 122, 100, 150},
        {96000.0, 96000.0, 140, 560, 50, 22, 123, 101, 151},
        {176400.0, 176400.0, 256, 1024, 50, 22, 122, 100, 150},
        {192000.0, 192000.0, 280, 1120, 50, 22, 123, 101, 151},
        {384000.0, 384000.0, 560, 2240, 50, 22, 123, 101, 151},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        const EngineTables t = preparedAt(c.rate);
        EXPECT_EQ(t.sampleRate, c.rate);
        EXPECT_EQ(t.gridRate, c.gridRate);
        EXPECT_EQ(t.resampled(), c.gridRate != c.rate);
        EXPECT_EQ(t.hopFrames, c.hopFrames);
        EXPECT_EQ(t.bankSize, c.bankSize);
        EXPECT_EQ(t.bandCount, c.bandCount);
        EXPECT_EQ(t.firstExtraBin, c.firstExtraBin);
        EXPECT_EQ(t.topBin, c.topBin);
        EXPECT_EQ(t.extraCount, c.extraCount);
        EXPECT_EQ(t.binCount, c.binCount);
    }
}

TEST(EngineSetup, EveryRateKeepsTheHopNearItsLengthAt441kHz) {
    // From 8 to 384 kHz in steps of about a semitone: a hop within 1 % of 64 samples at
    // 44.1 kHz in seconds, on the rate itself or on a grid rate above it that the banks
    // resample from; a length FFTW transforms fast, the FFT four hops, the bins in range.
    for (double rate = 8000.0; rate <= 384000.0; rate *= 1.0595) {
        SCOPED_TRACE(rate);
        const EngineTables t = preparedAt(rate);
        EXPECT_NEAR(t.hopFrames / t.gridRate / (hopSize / 44100.0), 1.0, maxHopMismatch);
        EXPECT_GE(t.gridRate, rate);
        if (t.resampled()) {
            EXPECT_EQ(t.gridStepFx, std::llround(std::ldexp(t.gridRate / rate, gridStepBits)));
        }
        int rest = t.hopFrames;
        for (int p : {2, 3, 5, 7})
            while (rest % p == 0) rest /= p;
        EXPECT_EQ(rest, 1) << t.hopFrames;
        EXPECT_EQ(t.bankSize, 4 * t.hopFrames);
        EXPECT_LE(t.topBin, t.bankSize / 2);
        EXPECT_LE(t.binCount, maxBinCount);
        EXPECT_LE(t.noiseStarts - 1 + t.binCount, noiseTableSize);
    }
}

TEST(EngineSetup, ResonatorBandsSitBetweenTheirBins) {
    const EngineTables t = preparedAt(44100.0);
    const double d = fftSize / t.sampleRate;
    const double c = hopSize / t.sampleRate;
    EXPECT_NEAR(bandCentreHz(t.bandCount - 1), 3600.0, 10.0); // resonators reach 3.6 kHz at 44.1 kHz
    for (int k = 0; k < t.bandCount; ++k) {
        SCOPED_TRACE(k);
        const auto i = static_cast<size_t>(k);
        const double o = d * bandCentreHz(k);
        EXPECT_LE(t.bandBin[i], o);
        EXPECT_GT(t.bandBin[i] + 1, o);
        // The nearer bin gets the larger share.
        EXPECT_EQ(t.weightLow[i] >= t.weightHigh[i], o - t.bandBin[i] <= 0.5);
        EXPECT_GT(t.weightLow[i] + t.weightHigh[i], 0.0f);
        EXPECT_LE(t.weightLow[i], 1.0f);
        // The resonator decays (|rot| <= 0.5), keeps unit power gain and turns by the band centre.
        const double magnitude = std::abs(t.rot[i]);
        EXPECT_NEAR(magnitude, 0.5 * std::exp(-twoPi * bandWidthHz(k) * c), 1e-6);
        EXPECT_NEAR(magnitude * magnitude + t.drive[i] * t.drive[i], 1.0, 1e-5);
        const double turns = c * bandCentreHz(k);
        const double error = std::remainder(std::arg(t.rot[i]) - twoPi * (turns - std::floor(turns)), twoPi);
        EXPECT_LT(std::abs(error), 0.02);
    }
}

TEST(EngineSetup, FrequencyParabolaPassesThroughNeighbouringBands) {
    const EngineTables t = preparedAt(48000.0);
    const double c = t.hopFrames / t.sampleRate;
    for (int k = 0; k < plane::bandCount; ++k) {
        SCOPED_TRACE(k);
        const auto& p = t.freqPoly[static_cast<size_t>(k)];
        // The three bands the parabola was fitted to, as offsets from k.
        const int first = std::clamp(k - 1, 0, plane::bandCount - 3) - k;
        for (int delta = first; delta < first + 3; ++delta) {
            const double expected = c * bandCentreHz(k + delta);
            EXPECT_NEAR(p[0] + p[1] * delta + p[2] * delta * delta, expected, 2e-5 * expected + 1e-6)
                << delta;
        }
    }
}

TEST(EngineSetup, ExtraBinsReadTheBandsAroundTheirFrequency) {
    for (double rate : {22050.0, 44100.0, 96000.0}) {
        SCOPED_TRACE(rate);
        const EngineTables t = preparedAt(rate);
        const double d = t.bankSize / rate;
        int previousBand = 0;
        for (int e = 0; e < t.extraCount; ++e) {
            SCOPED_TRACE(e);
            const ExtraBin& x = t.extraBins[static_cast<size_t>(e)];
            ASSERT_GE(x.band, previousBand);
            ASSERT_LE(x.band, plane::bandCount - 2);
            previousBand = x.band;
            EXPECT_TRUE(std::isfinite(x.gain));
            EXPECT_GT(x.gain, 0.0f);
            const double bin = t.firstExtraBin + e;
            if (bandCentreHz(x.band + 1) * d > bin + 0.3) {
                // Inside the band pair the weights interpolate linearly, to a frequency within
                // 0.3 bin of the bin centre.
                EXPECT_NEAR(x.w0 + x.w1, 1.0f, 1e-5f);
                const double hz =
                    bandCentreHz(x.band) + x.w1 * (bandCentreHz(x.band + 1) - bandCentreHz(x.band));
                EXPECT_NEAR(hz * d, bin, 0.3 + 1e-4);
            }
        }
    }
}

TEST(EngineSetup, InitialSpectrumIsReproducibleButMovesOnWithEachPreparation) {
    EngineTables first;
    EngineTables again;
    ASSERT_TRUE(first.prepare(44100.0));
    ASSERT_TRUE(again.prepare(44100.0));
    EXPECT_EQ(first.initialSpectrum, again.initialSpectrum);

    const auto before = first.initialSpectrum;
    ASSERT_TRUE(first.prepare(44100.0));
    int changed = 0;
    for (int j = 0; j < first.binCount; ++j)
        if (first.initialSpectrum[static_cast<size_t>(j)] != before[static_cast<size_t>(j)]) ++changed;
    EXPECT_EQ(changed, first.binCount);
}

TEST(EngineSetup, InitialSpectrumHasUnitExpectedPower) {
    // The burst has unit expected energy, so its bins have unit mean power.
    EngineTables t;
    double power = 0.0;
    int count = 0;
    for (int run = 0; run < 40; ++run) {
        ASSERT_TRUE(t.prepare(44100.0));
        for (int e = 0; e < t.extraCount; ++e) {
            power += std::norm(t.initialSpectrum[static_cast<size_t>(t.bandCount + e)]);
            ++count;
        }
    }
    EXPECT_NEAR(power / count, 1.0, 0.1);
}

TEST(EngineSetup, RejectsRatesThatAreNotPositiveNumbers) {
    EngineTables t = preparedAt(44100.0);
    const EngineTables before = t;
    for (double rate :
         {0.0, -44100.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(t.prepare(rate)) << rate;
        EXPECT_EQ(t.sampleRate, before.sampleRate);
        EXPECT_EQ(t.binCount, before.binCount);
        EXPECT_EQ(t.preparationGenerator, before.preparationGenerator);
    }
}

TEST(EngineSetup, ExtremeRatesGiveBoundedFiniteTables) {
    for (double rate : {8000.0, 11025.0, 176400.0, 192000.0, 352800.0, 384000.0}) {
        SCOPED_TRACE(rate);
        const EngineTables t = preparedAt(rate);
        EXPECT_GE(t.bandCount, 1);
        EXPECT_LE(t.bandCount, plane::bandCount);
        EXPECT_LE(t.topBin, maxTopBin);
        EXPECT_GE(t.extraCount, 0);
        EXPECT_EQ(t.binCount, t.bandCount + t.extraCount);
        EXPECT_LE(t.binCount, maxBinCount);
        for (int k = 0; k < t.bandCount; ++k) {
            const auto i = static_cast<size_t>(k);
            EXPECT_LE(t.bandBin[i] + 1, fftSize / 2);
            EXPECT_TRUE(std::isfinite(t.weightLow[i]) && std::isfinite(t.weightHigh[i]));
            EXPECT_TRUE(std::isfinite(std::abs(t.rot[i])) && std::isfinite(t.drive[i]));
        }
        for (const auto& p : t.freqPoly) EXPECT_TRUE(std::isfinite(p[0] + p[1] + p[2]));
        for (int j = 0; j < t.binCount; ++j)
            EXPECT_TRUE(std::isfinite(std::abs(t.initialSpectrum[static_cast<size_t>(j)])));
    }
}

TEST(EngineSetup, WindowsHitTheirDesignValues) {
    struct Point {
        int index;
        double analysis, synthesis;
    };
    const Point points[] = {
        {0, 0.0, 0.0},
        {32, 0.0017847067, 2.9295976},
        {64, 0.0071845213, 16.05868},
        {96, 0.013834248, 35.76426},
        {128, 0.016873647, 45.588955},
    };
    const auto& a = analysisWindow();
    const auto& s = synthesisTable();
    for (const Point& p : points) {
        EXPECT_NEAR(a[static_cast<size_t>(p.index)], p.analysis, 1e-8) << p.index;
        EXPECT_NEAR(s[static_cast<size_t>(p.index)], p.synthesis, 1e-4) << p.index;
    }
    EXPECT_NEAR(std::accumulate(a.begin(), a.end(), 0.0), 2.0, 1e-5);
    EXPECT_NEAR(std::accumulate(s.begin(), s.end(), 0.0), 4962.314, 1e-2);
    for (int i = 0; i < fftSize; ++i) {
        SCOPED_TRACE(i);
        const auto at = static_cast<size_t>(i);
        const double x = twoPi * i / fftSize;
        // Both follow their cosine series closely and are symmetric about the middle.
        EXPECT_NEAR(a[at],
                    0.0078125 *
                        (1 - 1.084609 * std::cos(x) + 0.080861 * std::cos(2 * x) + 0.00606 * std::cos(3 * x)),
                    2e-5);
        EXPECT_NEAR(s[at],
                    19.3840 * (1 - 1.187164 * std::cos(x) + 0.173323 * std::cos(2 * x) +
                               0.010145 * std::cos(3 * x) + 0.002009 * std::cos(4 * x)),
                    0.033);
        EXPECT_GE(s[at], 0.0f);
        if (i > 0) {
            EXPECT_FLOAT_EQ(a[at], a[static_cast<size_t>(fftSize - i)]);
            EXPECT_FLOAT_EQ(s[at], s[static_cast<size_t>(fftSize - i)]);
        }
    }
    // Near the edge the synthesis table rises smoothly from 0 like the design's first values.
    EXPECT_NEAR(s[1], 0.0011752974, 0.002);
    EXPECT_NEAR(s[2], 0.005404714, 0.005);
    EXPECT_NEAR(s[3], 0.013205953, 0.01);
    // Four synthesis windows a hop apart overlap to an almost flat sum.
    for (int i = 0; i < hopSize; ++i) {
        double sum = 0.0;
        for (int m = 0; m < 4; ++m) sum += s[static_cast<size_t>(i + m * hopSize)];
        EXPECT_GE(sum, 77.38) << i;
        EXPECT_LE(sum, 77.72) << i;
    }
}

TEST(EngineSetup, NoiseTableIsSmoothedComplexGaussianNoise) {
    // Unit complex variance, zero mean, and neighbour correlation set by the smoothing kernel.
    const auto correlation = [](int lag) {
        double sum = 0.0;
        for (int k = 0; k + lag < noiseTableSize; ++k)
            sum += (noiseTable[static_cast<size_t>(k)] * std::conj(noiseTable[static_cast<size_t>(k + lag)]))
                       .real();
        return sum / (noiseTableSize - lag);
    };
    Complex mean{};
    for (const Complex& v : noiseTable) mean += v;
    mean /= static_cast<float>(noiseTableSize);
    EXPECT_LT(std::abs(mean), 0.1f);
    EXPECT_NEAR(correlation(0), 1.0, 0.1);
    EXPECT_NEAR(correlation(1), 0.709, 0.1);
    EXPECT_NEAR(correlation(2), 0.236, 0.1);
    EXPECT_NEAR(correlation(5), 0.0, 0.1);
}

TEST(EngineSetup, VoiceSeedsFollowTheGeneratorFromTheResetSeed) {
    EXPECT_EQ(voiceSeed(2u, 0), 2u);
    uint32_t x = 2u;
    for (int k = 1; k < 32; ++k) {
        x = x * 1664525u + 1013904223u;
        EXPECT_EQ(voiceSeed(2u, k), x) << k;
    }
}

} // namespace
} // namespace tarvo
