#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "effects/Distortion.h"
#include "effects/FxMath.h"
#include "effects/UnitHarness.h"

namespace tarvo {
namespace {

using testing::peak;
using testing::sine;
using testing::Stereo;
using testing::UnitHarness;

Stereo noise(size_t frames, unsigned seed, float scale) {
    Stereo s(frames);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-scale, scale);
    for (size_t i = 0; i < frames; ++i) {
        s.left[i] = d(rng);
        s.right[i] = d(rng);
    }
    return s;
}

TEST(CompTape, AgeZeroKeepsTheRandomWanderOutOfTheSound) {
    const Stereo in = noise(44100, 11, 0.5f);
    for (float age : {0.0f, 100.0f}) {
        SCOPED_TRACE(age);
        UnitHarness first(CompTape(), 44100.0f, 50.0f, age);
        const Stereo a = first.processed(in);
        // Other tape units draw from the shared generator in between.
        for (int i = 0; i < 7; ++i) CompTape::nextRandom();
        UnitHarness second(CompTape(), 44100.0f, 50.0f, age);
        const Stereo b = second.processed(in);
        if (age == 0.0f)
            EXPECT_EQ(a.left, b.left);
        else
            EXPECT_NE(a.left, b.left);
    }
}

TEST(CompTape, SteadyLevelPassesSaturatorAndFollowerOnce) {
    // A steady input passes the tone and output filters unchanged; the saturator gives
    // x / (S x + K) and the follower divides by S y + K once more.
    struct Case {
        float drive, input;
    };
    for (const Case& c : {Case{0.0f, 0.5f}, Case{0.0f, -0.2f}, Case{100.0f, 0.5f}}) {
        SCOPED_TRACE(c.drive);
        const float k = 1.0f - 0.9f * c.drive / 100.0f, s = 2.0f * c.drive / 100.0f + 0.5f;
        const float y = c.input / (s * std::fabs(c.input) + k);
        const float expected = y / (s * std::fabs(y) + k);
        UnitHarness h(CompTape(), 48000.0f, c.drive, 0.0f);
        const Stereo out = h.processed(Stereo(48000, c.input));
        EXPECT_NEAR(out.left.back(), expected, 1e-4f);
        EXPECT_NEAR(out.right.back(), expected, 1e-4f);
    }
    // Drive 0: y / (1 + 0.5 |y|) twice; 0.5 becomes 0.4, then 1/3.
    UnitHarness h(CompTape(), 48000.0f, 0.0f, 0.0f);
    EXPECT_NEAR(h.processed(Stereo(48000, 0.5f)).left.back(), 1.0f / 3.0f, 1e-4f);
}

// Steady output of the transformer amp for a constant input x.
float distorterLevel(float bias, float x) {
    UnitHarness h(Distorter(), 44100.0f, 12.0f, bias);
    return h.processed(Stereo(256, x)).left.back();
}

TEST(Distorter, BiasCompressesOneHalfWaveHarder) {
    struct Case {
        float bias;
        int louder; // +1: the positive half-wave comes out louder, -1 the negative, 0 about equal
    };
    for (const Case& c :
         {Case{-100.0f, 1}, Case{-40.0f, 1}, Case{0.0f, 0}, Case{40.0f, -1}, Case{100.0f, -1}}) {
        SCOPED_TRACE(c.bias);
        const float up = distorterLevel(c.bias, 0.9f), down = -distorterLevel(c.bias, -0.9f);
        EXPECT_GT(up, 0.0f);
        EXPECT_GT(down, 0.0f);
        if (c.louder == 0)
            EXPECT_NEAR(up, down, 0.05f * up);
        else
            EXPECT_GT(c.louder * (up - down), 0.05f);
    }
    // Bias -100: the positive half-wave uses 0.4 k, the negative k / 0.05.
    const float gain = std::pow(10.0f, 12.0f / 20.0f);
    const float k = 0.5f * gain / (0.25f * gain + 1.0f) + 0.5f;
    EXPECT_NEAR(distorterLevel(-100.0f, 0.9f), FxMath::softClip(0.9f / (0.4f * k * 0.9f + 1.0f / gain)),
                1e-4f);
    EXPECT_NEAR(distorterLevel(-100.0f, -0.9f), FxMath::softClip(-0.9f / (k / 0.05f * 0.9f + 1.0f / gain)),
                1e-4f);
}

TEST(Distorter, GainChangesGlideAcrossTheBlock) {
    UnitHarness h(Distorter(), 48000.0f, 0.0f, 0.0f);
    Stereo before(640, 0.001f);
    h.run(before);
    h.params[0].set(48.0f);
    Stereo next(64, 0.001f);
    h.run(next);
    float largestJump = std::fabs(next.left[0] - before.left.back());
    for (size_t i = 1; i < next.size(); ++i)
        largestJump = std::max(largestJump, std::fabs(next.left[i] - next.left[i - 1]));
    const float wholeStep = next.left.back() - before.left.back();
    EXPECT_GT(wholeStep, 0.05f);
    EXPECT_LT(largestJump, 0.25f * wholeStep);
}

TEST(ParaDist, LoudInputStaysUnderTheAsymmetricLimits) {
    UnitHarness h(ParaDist(), 44100.0f, 100.0f, 100.0f);
    const Stereo out = h.processed(noise(44100, 3, 1.0f));
    const float g = 1.0f / (0.08f * 0.08f + 0.1f);
    float highest = 0.0f, lowest = 0.0f;
    for (float v : out.left) {
        highest = std::max(highest, v);
        lowest = std::min(lowest, v);
    }
    EXPECT_LT(highest, 1.0f / (2.0f * g));
    EXPECT_GT(lowest, -1.0f / g);
    EXPECT_GT(highest, 0.5f / (2.0f * g)); // and it does drive into them
}

TEST(ParaDist, StartsUnfilteredThenRemovesSteadyLevels) {
    UnitHarness h(ParaDist(), 44100.0f, 100.0f, 100.0f);
    const Stereo out = h.processed(Stereo(44100, 1e-5f));
    // Small-signal gain (0.5 + 0.2) / 0.0064, about 109, before the filter has moved.
    EXPECT_NEAR(out.left[0] / 1e-5f, 109.0f, 5.0f);
    EXPECT_LT(std::fabs(out.left.back()), 1e-6f);
}

} // namespace
} // namespace tarvo
