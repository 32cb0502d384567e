#include <gtest/gtest.h>

#include <cmath>

#include "effects/RoomReverbs.h"
#include "effects/UnitHarness.h"

namespace tarvo {
namespace {

using testing::Stereo;
using testing::UnitHarness;

TEST(ReverbDiffuser, StagesSpanTwoHundredToTwelveMilliseconds) {
    const float sr = 48000.0f;
    ReverbDiffuser d;
    d.setSampleRate(sr);
    const float ms[ReverbDiffuser::stageCount] = {200.0f, 133.3f, 89.0f, 59.4f, 39.6f, 26.4f, 17.6f, 11.8f};
    for (int k = 0; k < ReverbDiffuser::stageCount; ++k)
        EXPECT_NEAR(d.stages[k].length() / sr * 1000.0f, ms[k], 0.2f) << k;
}

TEST(ReverbDiffuser, StagesGrowBySampleEachChunkTowardsTheirShareOfTheLine) {
    struct Case {
        float length;
        float share;
    };
    const Case cases[] = {{0.0f, 0.1f}, {50.0f, 0.55f}, {100.0f, 1.0f}};
    const float sr = 44100.0f;
    for (const Case& c : cases) {
        UnitHarness u(new ReverbDiffuser(), sr);
        u.set(c.length, 0.0f);
        auto* d = static_cast<ReverbDiffuser*>(u.unit.get());
        for (int k = 0; k < ReverbDiffuser::stageCount; ++k) EXPECT_EQ(d->lenNow[k], 0);
        // 40 chunks of 16 frames.
        u.runSilence(640);
        for (int k = 0; k < ReverbDiffuser::stageCount; ++k) {
            const int target = static_cast<int>(static_cast<float>(d->stages[k].length()) * c.share);
            EXPECT_EQ(d->lenNow[k], std::min(target, 40)) << c.length << " stage " << k;
        }
        u.runSilence(static_cast<size_t>(4.0f * sr)); // 200 ms of line at one sample per 16 frames
        for (int k = 0; k < ReverbDiffuser::stageCount; ++k) {
            EXPECT_NEAR(d->lenNow[k], static_cast<float>(d->stages[k].length()) * c.share, 1.0f)
                << c.length << " stage " << k;
        }
    }
}

TEST(ReverbDiffuser, PreDelayOfThreeHundredMilliseconds) {
    const float sr = 48000.0f;
    UnitHarness u(new ReverbDiffuser(), sr);
    u.set(0.0f, 300.0f);
    u.runSilence(16);
    auto* d = static_cast<ReverbDiffuser*>(u.unit.get());
    EXPECT_EQ(d->preDelay.current, 14400);
    // Let the stages settle, then the first sound comes out no earlier than the pre-delay.
    u.runSilence(static_cast<size_t>(sr));
    Stereo audio(static_cast<size_t>(sr));
    audio.left[0] = audio.right[0] = 1.0f;
    u.run(audio);
    EXPECT_GE(testing::firstAbove(audio, 1e-6f), 14400);
}

TEST(ReverbHall, LengthAndColorSetTheRoom) {
    struct Case {
        float length, color;
        float decaySeconds, dampPercent, toneCutoff, toneWidth;
    };
    const Case cases[] = {
        {0.0f, 50.0f, 0.0375f, 50.0f, 0.3f, 80.0f},   {50.0f, 50.0f, 0.6f, 50.0f, 0.3f, 80.0f},
        {100.0f, 50.0f, 3.0375f, 50.0f, 0.3f, 80.0f}, {50.0f, 0.0f, 0.6f, 100.0f, 0.05f, 140.0f},
        {50.0f, 100.0f, 0.6f, 0.0f, 4.3f, 140.0f},    {50.0f, 37.5f, 0.6f, 100.0f, 0.3f, 95.0f},
        {50.0f, 62.5f, 0.6f, 0.0f, 0.3f, 95.0f},
    };
    for (const Case& c : cases) {
        ReverbHall hall;
        hall.applySettings(c.length, c.color);
        EXPECT_NEAR(hall.engine.decaySeconds, c.decaySeconds, 1e-4f) << c.length << "/" << c.color;
        EXPECT_NEAR(hall.engine.dampPercent, c.dampPercent, 1e-3f) << c.length << "/" << c.color;
        EXPECT_NEAR(hall.engine.toneCutoff, c.toneCutoff, 1e-4f) << c.length << "/" << c.color;
        EXPECT_NEAR(hall.engine.toneWidth, c.toneWidth, 1e-3f) << c.length << "/" << c.color;
    }
}

TEST(ReverbHall, MainTapsStayAroundSevenHundredAndFiftySevenHundredSamples) {
    for (float sr : {8000.0f, 44100.0f, 384000.0f}) {
        UnitHarness u(new ReverbHall(), sr);
        u.unit->reset();
        auto* hall = static_cast<ReverbHall*>(u.unit.get());
        const float centre[2] = {700.0f, 5700.0f};
        for (int block = 0; block < 4000; ++block) {
            u.runSilence(64);
            for (int i = 0; i < 2; ++i) {
                const DelayReader& r = hall->engine.mainLines[i].reader;
                double c = r.writeSeen - r.readPos;
                if (r.readPos > r.writeSeen) c += hall->engine.mainLines[i].length();
                ASSERT_NEAR(c, centre[i], 6.4 + 0.5) << sr << " line " << i << " block " << block;
            }
        }
    }
}

// Energy of the room's answer to an impulse between `from` and `to` seconds.
double tailEnergy(float length, float from, float to) {
    const float sr = 44100.0f;
    UnitHarness u(new ReverbHall(), sr);
    u.set(length, 50.0f);
    u.runSilence(4410);
    Stereo audio(static_cast<size_t>(to * sr));
    audio.left[0] = audio.right[0] = 1.0f;
    u.run(audio);
    double e = 0.0;
    for (size_t i = static_cast<size_t>(from * sr); i < audio.size(); ++i)
        e += static_cast<double>(audio.left[i]) * audio.left[i] +
             static_cast<double>(audio.right[i]) * audio.right[i];
    return e;
}

TEST(ReverbHall, LongerRoomsRingLonger) {
    const double early[3] = {tailEnergy(0.0f, 0.0f, 0.1f), tailEnergy(50.0f, 0.0f, 0.1f),
                             tailEnergy(100.0f, 0.0f, 0.1f)};
    const double late[3] = {tailEnergy(0.0f, 1.0f, 1.5f), tailEnergy(50.0f, 1.0f, 1.5f),
                            tailEnergy(100.0f, 1.0f, 1.5f)};
    for (int i = 0; i < 3; ++i) EXPECT_GT(early[i], 1e-3) << i;
    EXPECT_LT(late[0], late[1]);
    EXPECT_LT(late[1], late[2]);
    // At "Length" 50 the tail falls by about 30 dB in 0.6 s: well over 40 dB by one second.
    EXPECT_LT(late[1] / early[1], 1e-4);
}

TEST(ShelfDesign, UnityWithoutDampingAndCutAboveWithIt) {
    // g = 1: flat; g < 1: gain b = g^2 above the corner, 1 below.
    for (float g : {1.0f, 0.5f, 0.1f}) {
        const ShelfCoefficients s = shelfDesign(0.5f * g, 1.0f, g * g);
        const float dc = (s.b0 + s.b1) / (1.0f - s.p);
        const float nyquist = (s.b0 - s.b1) / (1.0f + s.p);
        EXPECT_NEAR(dc, 1.0f, 1e-4f) << g;
        if (g == 1.0f)
            EXPECT_NEAR(std::fabs(nyquist), 1.0f, 1e-4f);
        else
            EXPECT_LT(std::fabs(nyquist), 1.0f) << g;
    }
}

TEST(ToneFilter, PassesUnchangedWithoutResonance) {
    ToneFilter tone;
    float l[8] = {1, 2, 3, 4, 5, 6, 7, 8}, r[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    tone.process(l, r, 8, 0.1f, 0.0f);
    EXPECT_EQ(l[3], 4.0f);
    EXPECT_EQ(r[3], 5.0f);
    // With resonance it removes DC once its coefficients have glided in.
    float dcL[64], dcR[64];
    for (int b = 0; b < 100; ++b) {
        std::fill(dcL, dcL + 64, 1.0f);
        std::fill(dcR, dcR + 64, 1.0f);
        tone.process(dcL, dcR, 64, 0.1f, 0.5f);
    }
    EXPECT_NEAR(dcL[63], 0.0f, 1e-4f);
    EXPECT_NEAR(dcR[63], 0.0f, 1e-4f);
}

} // namespace
} // namespace tarvo
