#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "effects/Compressors.h"
#include "effects/FxMath.h"
#include "effects/UnitHarness.h"

namespace tarvo {
namespace {

using testing::peak;
using testing::sine;
using testing::Stereo;
using testing::UnitHarness;

TEST(FxMath, ApproximationsStayCloseToTheFunctions) {
    for (float x = -30.0f; x <= 30.0f; x += 0.37f)
        EXPECT_NEAR(FxMath::fastExp2(x) / std::exp2(x), 1.0f, 2e-4f) << x;
    for (float v = 1e-6f; v < 1e6f; v *= 1.7f) EXPECT_NEAR(FxMath::fastLog2(v), std::log2(v), 2e-4f) << v;
    EXPECT_EQ(FxMath::fastExp2(0.0f), 1.0f);
    for (float x = 0.0f; x < 4.0f; x += 0.1f) EXPECT_NEAR(FxMath::expNeg(x), std::exp(-x), 0.06f) << x;
}

TEST(FxMath, Exp2NeverReadsOutsideItsTable) {
    // Arguments from runaway logarithms (infinite or NaN input) must give finite gains.
    for (float x : {-1e9f, -300.0f, -127.5f, 127.9f, 128.5f, 300.0f, 1e9f, NAN, INFINITY, -INFINITY}) {
        const float y = FxMath::fastExp2(x);
        EXPECT_TRUE(std::isfinite(y)) << x;
        EXPECT_GE(y, 0.0f) << x;
    }
}

TEST(FxMath, SoftClipPassesSmallValuesAndStaysWithinOne) {
    EXPECT_NEAR(FxMath::softClip(0.001f), 0.001f, 1e-6f);
    for (float u : {-1e6f, -3.0f, -1.0f, 0.5f, 1.0f, 4.0f, 1e6f}) {
        EXPECT_LE(std::fabs(FxMath::softClip(u)), 1.0f);
        EXPECT_EQ(FxMath::softClip(-u), -FxMath::softClip(u));
    }
}

TEST(CompLimiter, FullScaleSineSettlesJustUnderTheCeiling) {
    const float ceiling = FxMath::expNeg(0.3f * FxMath::dbToNeper);
    for (float rate : {44100.0f, 96000.0f})
        for (float speed : {0.0f, 50.0f, 100.0f}) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz, speed " << speed);
            UnitHarness h(CompLimiter(), rate, 12.0f, speed);
            const Stereo out = h.processed(sine(rate, 997.0f, 1.0f, 1.0f));
            const size_t tail = out.size() * 3 / 4;
            EXPECT_LE(peak(out.left, tail), ceiling);
            EXPECT_GT(peak(out.left, tail), 0.8f);
            EXPECT_EQ(out.left, out.right);
        }
}

TEST(CompLimiter, DriveChangesGlideAcrossTheBlock) {
    UnitHarness h(CompLimiter(), 48000.0f, 0.0f, 50.0f);
    Stereo quiet(640, 0.01f);
    h.run(quiet);
    h.params[0].set(24.0f); // +24 dB at once
    Stereo next(64, 0.01f);
    h.run(next);
    float largestJump = std::fabs(next.left[0] - quiet.left.back());
    for (size_t i = 1; i < next.size(); ++i)
        largestJump = std::max(largestJump, std::fabs(next.left[i] - next.left[i - 1]));
    const float wholeStep = next.left.back() - quiet.left.back();
    EXPECT_GT(wholeStep, 0.1f);
    EXPECT_LT(largestJump, 2.0f * wholeStep / 64.0f);
}

TEST(CompVinyl, RatioOnePassesTheSignalUnchanged) {
    UnitHarness h(CompVinyl(), 44100.0f, 1.0f, 50.0f);
    Stereo in(4096);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (size_t i = 0; i < in.size(); ++i) {
        // Loud and near-silent passages alike.
        const float scale = (i / 512) % 2 == 0 ? 1.0f : 0.001f;
        in.left[i] = scale * d(rng);
        in.right[i] = scale * d(rng);
    }
    const Stereo out = h.processed(in);
    EXPECT_EQ(out.left, in.left);
    EXPECT_EQ(out.right, in.right);
}

TEST(CompVinyl, LiftsQuietPassagesAndResetForgetsThePast) {
    UnitHarness h(CompVinyl(), 44100.0f, 4.0f, 100.0f);
    const Stereo quietIn = sine(44100.0f, 200.0f, 0.01f, 1.0f);
    const Stereo quietOut = h.processed(quietIn);
    EXPECT_GT(peak(quietOut.left, quietOut.size() / 2), 3.0f * 0.01f);

    h.processed(sine(44100.0f, 200.0f, 1.0f, 0.2f));
    h.unit->reset();
    UnitHarness fresh(CompVinyl(), 44100.0f, 4.0f, 100.0f);
    const Stereo burst = sine(44100.0f, 200.0f, 0.3f, 0.05f);
    EXPECT_EQ(h.processed(burst).left, fresh.processed(burst).left);
}

// Seconds until the gain, after a loud passage, comes back to 90 % of its quiet value.
float opticalRecovery(float speed) {
    const float rate = 44100.0f;
    UnitHarness h(CompOptical(), rate, 12.0f, speed);
    h.processed(Stereo(static_cast<size_t>(rate), 0.01f));
    Stereo settled(64, 0.01f);
    h.run(settled);
    const float quietGain = settled.left.back() / 0.01f;
    h.processed(Stereo(static_cast<size_t>(rate), 0.9f));
    Stereo after(static_cast<size_t>(4 * rate), 0.01f);
    h.run(after);
    for (size_t i = 0; i < after.size(); ++i)
        if (after.left[i] / 0.01f >= 0.9f * quietGain) return static_cast<float>(i) / rate;
    return 1e9f;
}

TEST(CompOptical, ReleaseRunsFromSlowToFastWithSpeed) {
    const float slow = opticalRecovery(0.0f);
    const float fast = opticalRecovery(100.0f);
    // Nominally 0.4 s and 5 ms; the cell moves faster the further it is off.
    EXPECT_GT(slow, 0.2f);
    EXPECT_LT(slow, 1.0f);
    EXPECT_LT(fast, 0.05f);
    EXPECT_GT(slow / fast, 20.0f);
}

TEST(CompGlue, QuietSignalsGetTheMakeUpGainAndLoudOnesStayBelowOne) {
    UnitHarness h(CompGlue(), 44100.0f, 6.0f, 50.0f);
    Stereo tiny(44100, 1e-5f);
    h.run(tiny);
    EXPECT_NEAR(tiny.left.back() / 1e-5f, std::pow(10.0f, 6.0f / 20.0f), 0.02f);
    Stereo silence(4096);
    h.run(silence);
    EXPECT_EQ(peak(silence.left), 0.0f);
    const Stereo loud = h.processed(sine(44100.0f, 100.0f, 1.0f, 0.5f));
    EXPECT_LE(peak(loud.left), 1.0f);
    EXPECT_LT(peak(loud.left, loud.size() / 2), 0.9f);
}

// A square wave: a steady level for a detector without peak hold.
Stereo square(float amplitude, size_t frames) {
    Stereo s(frames);
    for (size_t i = 0; i < frames; ++i) s.left[i] = s.right[i] = (i / 50) % 2 == 0 ? amplitude : -amplitude;
    return s;
}

TEST(ParaCompress, InvertedRatioBoostsLoudLowersQuietAndStaysWithinOne) {
    UnitHarness h(ParaCompress(), 44100.0f, 0.1f, 50.0f);
    const Stereo quiet = h.processed(square(0.01f, 22050));
    EXPECT_LT(peak(quiet.left, quiet.size() / 2), 0.01f);
    const Stereo loud = h.processed(square(0.5f, 22050));
    EXPECT_GT(peak(loud.left, loud.size() / 2), 0.5f);
    EXPECT_LE(peak(loud.left), 1.0f);
}

// Samples until the output level, after a step from quiet to loud, is within 1 dB of
// where it ends up.
int settleSamples(const FxBase& prototype, float first, float speed) {
    UnitHarness h(prototype, 44100.0f, first, speed);
    h.processed(Stereo(44100, 0.05f));
    Stereo loud(88200, 0.8f);
    h.run(loud);
    const float final = loud.left.back();
    for (size_t i = 0; i < loud.size(); ++i) {
        size_t j = i;
        while (j < loud.size() && std::fabs(20.0f * std::log10(loud.left[j] / final)) < 1.0f) ++j;
        if (j == loud.size()) return static_cast<int>(i);
    }
    return -1;
}

TEST(Compressors, HigherSpeedSettlesSooner) {
    struct Case {
        const char* name;
        const FxBase& prototype;
        float first;
    };
    const CompGlue glue;
    const CompOptical optical;
    const CompVinyl vinyl;
    const CompLimiter limiter;
    const ParaCompress para;
    for (const Case& c :
         {Case{"glue", glue, 12.0f}, Case{"optical", optical, 12.0f}, Case{"vinyl", vinyl, 0.3f},
          Case{"limiter", limiter, 12.0f}, Case{"para", para, 3.0f}}) {
        const int slow = settleSamples(c.prototype, c.first, 0.0f);
        const int fast = settleSamples(c.prototype, c.first, 100.0f);
        EXPECT_GE(fast, 0) << c.name;
        EXPECT_LT(fast, slow) << c.name;
    }
}

} // namespace
} // namespace tarvo
