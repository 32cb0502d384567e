#include <gtest/gtest.h>

#include <cmath>

#include "effects/ChorusDelay.h"
#include "effects/UnitHarness.h"

namespace tarvo {
namespace {

using testing::Stereo;
using testing::UnitHarness;

TEST(SineApprox, StaysCloseToTheSine) {
    for (float o = 0.0f; o < 1.0f; o += 0.001f)
        ASSERT_NEAR(sineApprox(o), std::sin(6.2831853f * o), 0.002f) << o;
}

TEST(ChorusDelayParams, BindSetsNamesRangesAndDefaults) {
    struct Case {
        FxBase* unit;
        const char* names[2];
        float defaults[2];
        float ranges[2][2];
    };
    const Case cases[] = {
        {new FxChorus(), {"Depth", "Rate"}, {10.0f, 2.0f}, {{1.0f, 100.0f}, {0.5f, 10.0f}}},
        {new FxTempoDelay(), {"Length", "Feedback"}, {2.7f, 50.0f}, {{1.0f, 8.0f}, {0.0f, 100.0f}}},
    };
    for (const Case& c : cases) {
        UnitHarness u(c.unit, 48000.0f);
        for (int i = 0; i < 2; ++i) {
            EXPECT_STREQ(u.params[i].name, c.names[i]);
            EXPECT_FLOAT_EQ(u.params[i].value, c.defaults[i]);
            EXPECT_NEAR(u.params[i].fromNormalized(0.0f), c.ranges[i][0], 1e-5f);
            EXPECT_NEAR(u.params[i].fromNormalized(1.0f), c.ranges[i][1], 1e-4f);
        }
    }
}

// First echo of an impulse sent after the delay has settled, in frames after the impulse.
long echoTime(float sampleRate, float bpm, float length) {
    UnitHarness u(new FxTempoDelay(), sampleRate);
    u.set(length, 0.0f);
    u.unit->setTempo(bpm);
    u.runSilence(static_cast<size_t>(sampleRate));
    Stereo audio(static_cast<size_t>(5.0f * sampleRate));
    audio.left[0] = audio.right[0] = 1.0f;
    u.run(audio);
    return testing::firstAbove(audio, 1e-3f);
}

TEST(FxTempoDelay, EchoesFallOnWholeSixteenths) {
    struct Case {
        float sampleRate;
        float bpm;
        float length;
        float seconds;
    };
    const Case cases[] = {
        {48000.0f, 120.0f, 1.0f, 0.125f}, {48000.0f, 120.0f, 2.0f, 0.25f},  {48000.0f, 120.0f, 8.0f, 1.0f},
        {44100.0f, 60.0f, 3.0f, 0.75f},   {96000.0f, 400.0f, 2.0f, 0.075f}, {44100.0f, 30.0f, 4.0f, 2.0f},
    };
    for (const Case& c : cases) {
        // The echo wanders by up to 3 ms around its time.
        const long expected = static_cast<long>(c.seconds * c.sampleRate);
        const long wobble = static_cast<long>(0.003f * c.sampleRate) + 2;
        const long t = echoTime(c.sampleRate, c.bpm, c.length);
        EXPECT_NEAR(t, expected, wobble) << c.bpm << " BPM, length " << c.length;
    }
}

TEST(FxTempoDelay, EchoTimesBeyondTheLineAreHeldAtItsEnd) {
    // 8 sixteenths at 20 BPM ask for 6 s, at 1 BPM for 2 minutes; the lines hold 4 s.
    for (float bpm : {20.0f, 1.0f}) {
        const float sr = 44100.0f;
        UnitHarness u(new FxTempoDelay(), sr);
        u.set(8.0f, 0.0f);
        u.unit->setTempo(bpm);
        u.runSilence(static_cast<size_t>(sr));
        Stereo audio(static_cast<size_t>(6.0f * sr));
        audio.left[0] = audio.right[0] = 1.0f;
        u.run(audio);
        auto* delay = static_cast<FxTempoDelay*>(u.unit.get());
        const long lineEnd = delay->echoLines[0].length() - 32;
        EXPECT_NEAR(testing::firstAbove(audio, 1e-3f), lineEnd, 2) << bpm;
        for (const DelayReader& r : delay->readers[0]) EXPECT_NEAR(r.speed, 1.0f, 1e-3f) << bpm;
    }
}

TEST(FxTempoDelay, OnlyTheTapsNearTheLengthRead) {
    struct Case {
        float length;
        bool evenPlaced;
        bool oddPlaced;
    };
    // 2.0 sounds the 2-sixteenth tap only; 2.5 blends 2 and 3; 3.0 sounds only 3.
    const Case cases[] = {{2.0f, true, false}, {2.5f, true, true}, {3.0f, false, true}};
    for (const Case& c : cases) {
        UnitHarness u(new FxTempoDelay(), 48000.0f);
        u.set(c.length, 50.0f);
        u.runSilence(48000);
        auto* delay = static_cast<FxTempoDelay*>(u.unit.get());
        for (int ch = 0; ch < 2; ++ch) {
            EXPECT_EQ(delay->readers[0][ch].readPos >= 0.0, c.evenPlaced) << c.length;
            EXPECT_EQ(delay->readers[1][ch].readPos >= 0.0, c.oddPlaced) << c.length;
        }
    }
}

TEST(FxTempoDelay, FeedbackZeroEchoesOnceAndFullFeedbackStaysBounded) {
    const float sr = 48000.0f;
    for (float feedback : {0.0f, 100.0f}) {
        UnitHarness u(new FxTempoDelay(), sr);
        u.set(2.0f, feedback);
        u.runSilence(static_cast<size_t>(sr));
        Stereo audio(static_cast<size_t>(4.0f * sr));
        audio.left[0] = audio.right[0] = 1.0f;
        u.run(audio);
        // The second echo would arrive around 0.5 s.
        const float second =
            testing::peak(audio, static_cast<size_t>(0.45f * sr), static_cast<size_t>(0.6f * sr));
        if (feedback == 0.0f)
            EXPECT_LT(second, 0.02f);
        else
            EXPECT_GT(second, 0.1f);
        EXPECT_LT(testing::peak(audio), 2.0f);
    }
}

TEST(FxTempoDelay, ResetSilencesEchoes) {
    UnitHarness u(new FxTempoDelay(), 44100.0f);
    u.set(2.0f, 90.0f);
    Stereo noise(44100);
    for (size_t i = 0; i < noise.size(); ++i) noise.left[i] = noise.right[i] = (i % 7 < 3) ? 0.5f : -0.5f;
    u.run(noise);
    u.unit->reset();
    EXPECT_EQ(testing::peak(u.runSilence(44100 * 3)), 0.0f);
}

TEST(FxChorus, RateZeroHoldsTheDelaysStill) {
    const float sr = 48000.0f;
    UnitHarness u(new FxChorus(), sr);
    u.set(1.0f, 2.0f);
    // Modulation can carry "Rate" below its range; the chorus treats that as standing still.
    u.params[1].addModA(-1.0f);
    ASSERT_LT(u.params[1].effective(), 0.0f);
    u.runSilence(64);
    auto* chorus = static_cast<FxChorus*>(u.unit.get());
    // sweep = (1 / 0.01 + 0.1) x sr x depth / 1700; the first voice sits 1.33 sweeps above
    // the base of 10 ms, the second 1.38 sweeps, both at phase 0 and 0.35 of the sine.
    const float sweep = 100.1f * sr * 1.0f / 1700.0f;
    const float base = 0.01f * sr;
    const float expected[2] = {1.33f * sweep + base, (sineApprox(0.35f) + 1.38f) * sweep + base};
    for (int block = 0; block < 50; ++block) {
        u.runSilence(64);
        EXPECT_EQ(chorus->lfoPhase, 0.0f);
        for (int i = 0; i < 2; ++i) {
            const DelayReader& r = chorus->voiceLines[i].reader;
            double c = r.writeSeen - r.readPos;
            if (r.readPos > r.writeSeen) c += chorus->voiceLines[i].length();
            ASSERT_NEAR(c, expected[i], 0.05) << "voice " << i << " block " << block;
            ASSERT_FLOAT_EQ(r.speed, 1.0f);
        }
    }
}

TEST(FxChorus, ResetForgetsEarlierSound) {
    UnitHarness u(new FxChorus(), 44100.0f);
    Stereo tone(44100);
    for (size_t i = 0; i < tone.size(); ++i)
        tone.left[i] = tone.right[i] = std::sin(0.05f * static_cast<float>(i));
    u.run(tone);
    EXPECT_GT(testing::peak(tone), 0.1f);
    u.unit->reset();
    EXPECT_EQ(testing::peak(u.runSilence(44100)), 0.0f);
}

} // namespace
} // namespace tarvo
