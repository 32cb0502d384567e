#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "effects/PlateSpring.h"
#include "effects/UnitHarness.h"

namespace tarvo {
namespace {

using testing::Stereo;
using testing::UnitHarness;

TEST(ReverbPlate, LinesAndLoopGainsFollowLengthAndBrightness) {
    const float sr = 44100.0f;
    UnitHarness u(new ReverbPlate(), sr);
    auto* plate = static_cast<ReverbPlate*>(u.unit.get());
    const float ms[ReverbPlate::lineCount] = {12.0f, 19.9f, 33.0f, 54.8f};
    for (int k = 0; k < ReverbPlate::lineCount; ++k)
        EXPECT_NEAR(static_cast<float>(plate->rings[k].size()) / sr * 1000.0f, ms[k], 0.1f) << k;

    struct Case {
        float length, brightness;
    };
    for (const Case c : {Case{50.0f, 100.0f}, Case{0.0f, 0.0f}, Case{100.0f, 50.0f}}) {
        u.set(c.length, c.brightness);
        // Coefficients glide at most 0.01 per sample: 200 frames reach any target.
        u.runSilence(256);
        const float x = std::exp2(4.0f * c.length / 100.0f - 2.0f) * 0.25f * sr;
        float mean = 0.0f;
        for (int k = 0; k < ReverbPlate::lineCount; ++k) {
            const float n = static_cast<float>(plate->rings[k].size());
            const float y = 32.0f * (1.0f - c.brightness / 100.0f) * n / sr;
            EXPECT_NEAR(plate->feedback[k], (x / n) / (x / n + 1.0f), 1e-5f) << c.length << " line " << k;
            EXPECT_NEAR(plate->dampCoef[k], 1.0f - y / (y + 1.0f), 1e-5f) << c.brightness << " line " << k;
            mean += 0.25f * (x / n) / (x / n + 1.0f);
        }
        EXPECT_NEAR(plate->inGain, 2.0f * std::sqrt(1.0f - mean * mean), 1e-5f);
    }
    // At "Length" 50 the 12 ms line feeds back at 0.25 / (0.25 + 0.012).
    u.set(50.0f, 100.0f);
    u.runSilence(256);
    EXPECT_NEAR(plate->feedback[0], 0.954f, 0.001f);
    EXPECT_FLOAT_EQ(plate->dampCoef[0], 1.0f);
}

TEST(ReverbPlate, ResetLeavesNoTail) {
    UnitHarness u(new ReverbPlate(), 48000.0f);
    u.set(100.0f, 100.0f);
    Stereo burst(4800);
    for (size_t i = 0; i < burst.size(); ++i) burst.left[i] = (i % 5 < 2) ? 0.8f : -0.5f;
    u.run(burst);
    u.unit->reset();
    EXPECT_EQ(testing::peak(u.runSilence(48000)), 0.0f);
}

TEST(ReverbSpring, BinDelaysAndSpectrumRingAt44k) {
    ReverbSpring spring;
    spring.setSampleRate(44100.0f);
    int longest = 0;
    for (int i = 1; i < Dispersion::bins; ++i)
        if (spring.binDelay[i] > spring.binDelay[longest]) longest = i;
    // Bin 34 (5857 Hz) arrives last, about 73 ms = 50 hops late.
    EXPECT_EQ(longest, 34);
    EXPECT_NEAR(spring.binDelay[34] * 64.0f / 44.1f, 73.3f, 0.2f);
    EXPECT_EQ(spring.dispersion.wholeDelay[34], 50);
    EXPECT_EQ(spring.dispersion.spectrumCount, 64);
    // Just above 6 kHz the delay drops to about 29 ms.
    EXPECT_NEAR(ReverbSpring::groupDelayMs(6000.0f), 29.0f, 1e-4f);
    EXPECT_NEAR(ReverbSpring::groupDelayMs(5999.0f), 80.0f, 0.1f);
    EXPECT_NEAR(spring.binDelay[35] * 64.0f / 44.1f, 28.8f, 0.1f);
    // The notch weakens the bins next to 6 kHz against the body of the spectrum.
    const float* t0 = spring.dispersion.tap0;
    const float* t1 = spring.dispersion.tap1;
    auto weight = [&](int i) {
        return std::hypot(t0[2 * i], t0[2 * i + 1]) + std::hypot(t1[2 * i], t1[2 * i + 1]);
    };
    EXPECT_LT(weight(35), 0.5f * weight(20));
    EXPECT_GT(spring.meanDelay, 0.0f);
}

TEST(ReverbSpring, ApDelaysAndLoopLineFollowTheRate) {
    struct Case {
        float sampleRate;
        int loopUsable;
    };
    for (const Case c : {Case{44100.0f, 4408}, Case{8000.0f, 800}, Case{2000.0f, 256}}) {
        ReverbSpring spring;
        spring.setSampleRate(c.sampleRate);
        EXPECT_EQ(spring.loopLine.length(), c.loopUsable);
        EXPECT_EQ(spring.apDelay[0], static_cast<int>(c.sampleRate * 0.017f));
        EXPECT_NEAR(spring.apDelay[1], c.sampleRate * 0.0279f, 1.0f);
    }
}

// The dispersion with no delays and unit weights is a plain short-time Fourier round trip:
// the input comes back one frame (256 samples) late.
TEST(Dispersion, WithoutDelaysReturnsTheInputOneFrameLate) {
    struct Case {
        float delayHops;
        int expectedLatency;
    };
    for (const Case c : {Case{0.0f, 256}, Case{3.0f, 256 + 3 * 64}}) {
        Dispersion d;
        std::vector<float> delays(Dispersion::bins, c.delayHops), weights(Dispersion::bins, 1.0f);
        d.prepare(delays.data(), weights.data());
        std::vector<float> x(4096), y(4096);
        for (size_t i = 0; i < x.size(); ++i) {
            const float t = static_cast<float>(i);
            x[i] =
                0.5f * std::sin(0.031f * t) + 0.3f * std::sin(0.57f * t + 1.0f) + 0.1f * std::cos(1.9f * t);
        }
        y = x;
        for (size_t start = 0; start < y.size(); start += 37)
            d.process(y.data() + start, static_cast<int>(std::min<size_t>(37, y.size() - start)));
        for (size_t i = static_cast<size_t>(c.expectedLatency) + 256; i < y.size(); ++i)
            ASSERT_NEAR(y[i], x[i - static_cast<size_t>(c.expectedLatency)], 2e-3f)
                << c.delayHops << " at " << i;
    }
}

TEST(ReverbSpring, LengthSetsDecayAndInputGain) {
    // Longer springs take in less and ring longer.
    auto lateEnergy = [](float length) {
        const float sr = 44100.0f;
        UnitHarness u(new ReverbSpring(), sr);
        u.set(length, 50.0f);
        Stereo audio(static_cast<size_t>(2.0f * sr));
        audio.left[0] = audio.right[0] = 1.0f;
        u.run(audio);
        double e = 0.0;
        for (size_t i = static_cast<size_t>(1.5f * sr); i < audio.size(); ++i)
            e += static_cast<double>(audio.left[i]) * audio.left[i];
        return e;
    };
    EXPECT_LT(lateEnergy(0.0f), lateEnergy(50.0f));
    EXPECT_LT(lateEnergy(50.0f), lateEnergy(100.0f));
}

} // namespace
} // namespace tarvo
