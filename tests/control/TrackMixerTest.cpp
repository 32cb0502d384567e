#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "control/TrackMixer.h"
#include "engine/BandSynth.h"

namespace tarvo {
namespace {

constexpr float sampleRate = 44100.0f;
constexpr int frames = 64;

class TrackMixerTest : public ::testing::Test {
protected:
    BandSynth synth;
    TrackMixer& mixer = synth.mixer;
    // Four stereo buses of one sub-block.
    std::array<std::vector<float>, 8> channels;
    std::array<float*, 8> outputs{};

    void SetUp() override {
        mixer.prepare(sampleRate);
        for (size_t c = 0; c < channels.size(); ++c) {
            channels[c].assign(frames, 0.0f);
            outputs[c] = channels[c].data();
        }
        for (int t = 0; t < TrackMixer::trackCount; ++t) track(t, trackWidth).set(0.0f);
    }

    Param& track(int t, int offset) {
        return synth.param(synth.layout.trackBase[static_cast<size_t>(t)] + offset);
    }

    void clearOutputs() {
        for (std::vector<float>& c : channels) std::fill(c.begin(), c.end(), 0.0f);
        for (auto& bus : synth.sendBus) bus.fill(0.0f);
    }
    // Mixes a block of constant level into the outputs.
    bool mixConstant(int t, float level, int outputCount = 8) {
        std::vector<float> mono(frames, level);
        return mixer.mixTrack(t, mono.data(), frames, true, outputs.data(), outputCount, 0);
    }
    float energy(int channel) const {
        float sum = 0.0f;
        for (float x : channels[static_cast<size_t>(channel)]) sum += x * x;
        return sum;
    }
};

TEST_F(TrackMixerTest, LinearBalanceAtLevel) {
    struct Case {
        float pan, amp, left, right;
    };
    const Case cases[] = {
        {-100.0f, 2.0f, 2.0f, 0.0f},
        {50.0f, 2.0f, 1.0f, 2.0f},
        {0.0f, 1.0f, 1.0f, 1.0f},
        {100.0f, 0.5f, 0.0f, 0.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pan);
        mixer.reset();
        clearOutputs();
        track(0, trackPan).set(c.pan);
        track(0, trackAmp).set(c.amp);
        ASSERT_TRUE(mixConstant(0, 1.0f));
        // At width 0 both chains delay by two samples.
        EXPECT_FLOAT_EQ(channels[0][1], 0.0f);
        EXPECT_FLOAT_EQ(channels[0][2], c.left);
        EXPECT_FLOAT_EQ(channels[1][2], c.right);
        EXPECT_FLOAT_EQ(channels[0][63], c.left);
        EXPECT_FLOAT_EQ(channels[1][63], c.right);
    }
}

TEST_F(TrackMixerTest, GainsRampAQuarterOfTheWayPerChunk) {
    ASSERT_TRUE(mixConstant(0, 1.0f));
    EXPECT_FLOAT_EQ(mixer.stereo[0].gainR, 1.0f);
    track(0, trackPan).set(-100.0f);
    mixConstant(0, 1.0f);
    EXPECT_NEAR(mixer.stereo[0].gainR, 0.75f, 1e-6f);
    // Two chunks in one longer call.
    std::vector<float> mono(2 * frames, 1.0f);
    std::vector<float> left(2 * frames), right(2 * frames);
    processStereo(mixer.stereo[0], mono.data(), left.data(), right.data(), 2 * frames,
                  mixer.stripSettings(0, false));
    EXPECT_NEAR(mixer.stereo[0].gainR, 0.75f * 0.75f * 0.75f, 1e-6f);
    EXPECT_FLOAT_EQ(mixer.stereo[0].gainL, 1.0f);
}

TEST_F(TrackMixerTest, WidthSpreadsTheChannels) {
    std::vector<float> mono(frames);
    uint32_t x = 1;
    for (float& v : mono) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<float>(static_cast<int32_t>(x)) * 2.3e-10f;
    }
    auto render = [&](float width, std::vector<float>& left, std::vector<float>& right) {
        TrackStereo stereo;
        StripSettings settings{.amp = 1.0f, .pan = 0.0f, .width = width};
        left.assign(frames, 0.0f);
        right.assign(frames, 0.0f);
        processStereo(stereo, mono.data(), left.data(), right.data(), frames, settings);
        return stereo;
    };
    std::vector<float> left, right;
    render(0.0f, left, right);
    EXPECT_EQ(left, right);
    EXPECT_FLOAT_EQ(left[10], mono[8]);

    const TrackStereo wide = render(1.0f, left, right);
    const float lastRow[] = {-0.99075991f, 0.10961790f, -0.00036482149f, 0.50563300f};
    for (size_t j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(wide.stages[j].coefficient, lastRow[j]);
    float difference = 0.0f;
    for (int i = 0; i < frames; ++i)
        difference += std::fabs(left[static_cast<size_t>(i)] - right[static_cast<size_t>(i)]);
    EXPECT_GT(difference, 0.1f);

    // Half width lies halfway between the rows for 0.4 and 0.6.
    const TrackStereo half = render(0.5f, left, right);
    EXPECT_NEAR(half.stages[0].coefficient, (-0.92124140f - 0.94859719f) / 2.0f, 1e-6f);
    EXPECT_NEAR(half.stages[3].coefficient, (0.52193922f + 0.72817773f) / 2.0f, 1e-6f);
}

TEST_F(TrackMixerTest, SoloOverridesMutes) {
    mixer.toggleMute(2);
    mixer.toggleMute(4);
    mixer.toggleSolo(2);
    for (int pass = 0; pass < 2; ++pass) {
        for (int t = 0; t < TrackMixer::trackCount; ++t) {
            SCOPED_TRACE(testing::Message() << "pass " << pass << " track " << t);
            const bool audible = pass == 0 ? t == 2 : t != 2 && t != 4;
            mixer.reset();
            clearOutputs();
            track(t, trackSend1).set(1.0f);
            ASSERT_TRUE(mixConstant(t, 0.5f));
            EXPECT_EQ(energy(0) > 0.0f, audible);
            EXPECT_EQ(synth.sendBus[0][10] > 0.0f, audible);
        }
        if (pass == 0) {
            mixer.toggleSolo(2); // un-solo: the mutes apply again
            EXPECT_EQ(synth.soloTrack.load(), -1);
        }
    }
    EXPECT_EQ(synth.muteMask.load(), (1 << 2) | (1 << 4));

    struct Case {
        int track, mask, solo;
        bool muted;
    };
    for (const Case& c : {Case{3, 0b1000, -1, true}, Case{3, 0b0111, -1, false}, Case{3, 0b1000, 3, false},
                          Case{5, 0, 3, true}}) {
        EXPECT_EQ(trackMuted(c.track, c.mask, c.solo), c.muted) << c.track << " " << c.mask << " " << c.solo;
    }
}

TEST_F(TrackMixerTest, OutputBusRoutingAndMissingBus) {
    track(0, trackSend1).set(1.0f);

    // Bus 4 while only two stereo buses exist: silent, and nothing reaches the sends.
    track(0, trackOutput).set(4.0f);
    EXPECT_FALSE(mixConstant(0, 1.0f, 4));
    EXPECT_TRUE(mixer.silent[0]);
    for (int c = 0; c < 8; ++c) EXPECT_FLOAT_EQ(energy(c), 0.0f);
    EXPECT_FLOAT_EQ(synth.sendBus[0][10], 0.0f);

    // Bus 1: dry on channels 2 and 3, the send still fed (its return goes to Main later).
    track(0, trackOutput).set(1.0f);
    EXPECT_TRUE(mixConstant(0, 1.0f, 4));
    EXPECT_FALSE(mixer.silent[0]);
    EXPECT_FLOAT_EQ(energy(0), 0.0f);
    EXPECT_GT(energy(2), 0.0f);
    EXPECT_GT(energy(3), 0.0f);
    EXPECT_FLOAT_EQ(synth.sendBus[0][10], channels[2][10]);
    EXPECT_FLOAT_EQ(synth.sendBus[0][TrackMixer::sendFrames + 10], channels[3][10]);

    // A track that made no sound adds nothing.
    clearOutputs();
    std::vector<float> mono(frames, 1.0f);
    EXPECT_FALSE(mixer.mixTrack(0, mono.data(), frames, false, outputs.data(), 4, 0));
    EXPECT_TRUE(mixer.silent[0]);
    EXPECT_FLOAT_EQ(energy(2), 0.0f);
}

TEST_F(TrackMixerTest, SendsFollowLevelAndAreCapped) {
    track(0, trackAmp).set(2.0f);
    track(0, trackPan).set(-100.0f);
    track(0, trackSend1).set(0.5f);
    ASSERT_TRUE(mixConstant(0, 1.0f));
    EXPECT_FLOAT_EQ(synth.sendBus[0][10], 1.0f);
    EXPECT_FLOAT_EQ(synth.sendBus[0][TrackMixer::sendFrames + 10], 0.0f);
    EXPECT_FLOAT_EQ(synth.sendBus[1][10], 0.0f);

    // Modulation may push level and sends far beyond 4; the mixer stops at 16.
    track(0, trackAmp).addModA(2.0f);
    track(0, trackSend2).addModA(3.0f);
    EXPECT_GT(track(0, trackAmp).effective(), 16.0f);
    EXPECT_FLOAT_EQ(mixer.stripSettings(0, false).amp, 16.0f);
    mixer.reset();
    clearOutputs();
    ASSERT_TRUE(mixConstant(0, 1.0f));
    EXPECT_FLOAT_EQ(channels[0][10], 16.0f);
    EXPECT_FLOAT_EQ(synth.sendBus[1][10], 256.0f);
}

TEST_F(TrackMixerTest, DjFilter) {
    auto filtered = [](float filter) {
        std::array<float, TrackMixer::bandCount> bands;
        bands.fill(1.0f);
        djFilterBands(bands.data(), filter);
        return bands;
    };
    for (float filter : {0.0f, 0.0005f, -0.0005f, std::nanf("")}) {
        const auto bands = filtered(filter);
        EXPECT_TRUE(std::all_of(bands.begin(), bands.end(), [](float g) { return g == 1.0f; })) << filter;
    }

    const auto high = filtered(100.0f);
    for (int b = 0; b <= 40; ++b) EXPECT_EQ(high[static_cast<size_t>(b)], 0.0f) << b;
    for (int b = 41; b <= 59; ++b) {
        EXPECT_GT(high[static_cast<size_t>(b)], high[static_cast<size_t>(b - 1)]) << b;
        EXPECT_LT(high[static_cast<size_t>(b)], 1.0f) << b;
    }
    for (int b = 60; b < 80; ++b) EXPECT_EQ(high[static_cast<size_t>(b)], 1.0f) << b;

    const auto low = filtered(-100.0f);
    EXPECT_EQ(low[0], 1.0f);
    for (int b = 1; b <= 19; ++b) {
        EXPECT_LT(low[static_cast<size_t>(b)], low[static_cast<size_t>(b - 1)]) << b;
        EXPECT_GT(low[static_cast<size_t>(b)], 0.0f) << b;
    }
    for (int b = 20; b < 80; ++b) EXPECT_EQ(low[static_cast<size_t>(b)], 0.0f) << b;

    // Beyond the range it acts as at the ends; close to 0 it barely touches the spectrum.
    EXPECT_EQ(filtered(500.0f), high);
    EXPECT_EQ(filtered(-500.0f), low);
    for (float filter : {1.0f, -1.0f}) {
        const auto near = filtered(filter);
        EXPECT_GT(*std::min_element(near.begin(), near.end()), 0.99f) << filter;
    }
}

TEST_F(TrackMixerTest, Clipper) {
    TrackClipper clipper{.gain = 1.0f, .sampleRate = sampleRate};
    std::vector<float> x(frames), original(frames);
    for (int i = 0; i < frames; ++i)
        original[static_cast<size_t>(i)] = std::sin(0.3f * static_cast<float>(i));
    x = original;
    processClipper(clipper, x.data(), frames, 0.0f);
    EXPECT_EQ(x, original);

    // Full clip: at the sine's crests the output sits near 0.305 / 1.5, at its troughs near -0.305.
    const int n = static_cast<int>(sampleRate / 2);
    std::vector<float> sine(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        sine[static_cast<size_t>(i)] =
            std::sin(2.0f * 3.14159265f * 100.0f * static_cast<float>(i) / sampleRate);
    std::vector<float> clipped = sine;
    processClipper(clipper, clipped.data(), n, 1.0f);
    int crests = 0;
    for (int i = n / 2; i < n; ++i) {
        const size_t k = static_cast<size_t>(i);
        if (std::fabs(sine[k]) < 0.99f) continue;
        EXPECT_NEAR(clipped[k], sine[k] > 0.0f ? 0.305f / 1.5f : -0.305f, 0.005f) << i;
        ++crests;
    }
    EXPECT_GT(crests, 100);
    for (float v : clipped) ASSERT_LT(std::fabs(v), 1.0f);

    // Back at 0 the gain returns to 1 and the clipper switches itself off.
    std::vector<float> quiet(1024, 0.0f);
    processClipper(clipper, quiet.data(), 1024, 0.0f);
    EXPECT_NEAR(clipper.gain, 1.0f, 1e-5f);
    x = original;
    processClipper(clipper, x.data(), frames, 0.0f);
    for (int i = 0; i < frames; ++i)
        EXPECT_NEAR(x[static_cast<size_t>(i)], original[static_cast<size_t>(i)], 1e-4f);
}

TEST_F(TrackMixerTest, MetersRiseAtOnceFallSlowlyAndStopWhenOff) {
    std::fill(channels[0].begin(), channels[0].end(), 0.0f);
    channels[0][5] = -0.8f;
    channels[3][7] = 0.4f;
    const float* const* in = outputs.data();

    mixer.meterBuses(in, 2, frames, 0);
    EXPECT_FLOAT_EQ(synth.meterLevel[0].load(), 0.0f); // meters off

    synth.metersOn = true;
    mixer.meterBuses(in, 2, frames, 0);
    EXPECT_FLOAT_EQ(synth.meterLevel[0].load(), 0.8f);
    EXPECT_FLOAT_EQ(synth.meterLevel[3].load(), 0.4f);
    EXPECT_FLOAT_EQ(synth.meterLevel[4].load(), 0.0f);

    clearOutputs();
    mixer.meterBuses(in, 2, frames, 0);
    const float dt = frames / sampleRate;
    EXPECT_NEAR(synth.meterLevel[0].load(), 0.8f * (1.0f - dt / (dt + 0.05f)), 1e-6f);
    for (int i = 0; i < 2000; ++i) mixer.meterBuses(in, 2, frames, 0);
    EXPECT_EQ(synth.meterLevel[0].load(), 0.0f);

    synth.metersOn = false;
    channels[0][0] = 1.0f;
    mixer.meterBuses(in, 2, frames, 0);
    EXPECT_EQ(synth.meterLevel[0].load(), 0.0f);
}

TEST_F(TrackMixerTest, OutputBusNames) {
    EXPECT_STREQ(outputBusName(0), "Main");
    EXPECT_STREQ(outputBusName(4), "Bus 4");
    EXPECT_STREQ(outputBusName(8), "Bus 8");
    EXPECT_STREQ(outputBusName(9), "");
    EXPECT_STREQ(outputBusName(-1), "");
}

TEST_F(TrackMixerTest, ExtremeSettingsStayFinite) {
    const int offsets[] = {trackAmp, trackPan, trackWidth, trackClip, trackSend1, trackSend2};
    for (float push : {-50.0f, 50.0f}) {
        mixer.reset();
        clearOutputs();
        for (int offset : offsets) {
            track(1, offset).resetModulation();
            track(1, offset).addModA(push);
        }
        for (float level : {1e6f, -1e6f, 1e-30f, 0.0f}) {
            ASSERT_TRUE(mixConstant(1, level));
            for (int c = 0; c < 2; ++c)
                for (float v : channels[static_cast<size_t>(c)])
                    ASSERT_TRUE(std::isfinite(v)) << push << " " << level;
            for (const auto& bus : synth.sendBus)
                for (float v : bus) ASSERT_TRUE(std::isfinite(v));
        }
    }
}

} // namespace
} // namespace tarvo
