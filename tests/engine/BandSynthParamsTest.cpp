#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/BandSynth.h"

namespace tarvo {
namespace {

// One engine for the whole suite: its table never changes after construction.
class BandSynthParams : public testing::Test {
protected:
    static const BandSynth& synth() {
        static const BandSynth instance;
        return instance;
    }
    static const Param& at(int index) { return synth().param(index); }
    static const Param& track(int t, int offset) { return at(synth().layout.trackBase[t] + offset); }

    static std::string text(const Param& p, float x) {
        char buffer[64];
        p.formatValue(buffer, sizeof buffer, x);
        return buffer;
    }
    static std::string hostName(const Param& p) {
        char buffer[Param::hostNameCapacity];
        p.formatHostName(buffer, sizeof buffer);
        return buffer;
    }
};

TEST_F(BandSynthParams, LayoutAndCounts) {
    const ParamLayout& layout = synth().layout;
    EXPECT_EQ(layout.trackBase, (std::vector<int>{0, 20, 40, 60, 80, 100, 120, 140}));
    EXPECT_EQ(layout.globalBase, 160);
    EXPECT_EQ(layout.envBase, (std::vector<int>{166, 174, 182, 190}));
    EXPECT_EQ(layout.lfoBase, (std::vector<int>{198, 204, 210, 216}));
    EXPECT_EQ(layout.modSlotBase, (std::vector<int>{222, 226, 230, 234, 238, 242, 246, 250}));
    EXPECT_EQ(layout.fxSlotBase, (std::vector<int>{254, 258, 262, 266}));
    ASSERT_EQ(synth().params.size(), 270u);
    EXPECT_EQ(synth().hostParams.size(), 110u);

    for (int i = 0; i < 270; ++i) {
        const Param& p = at(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(p.index, i);
        ASSERT_NE(p.name, nullptr);
        // Every default lies inside its range and is the current value.
        EXPECT_EQ(p.value, p.defaultValue);
        EXPECT_GE(p.value, p.lowest());
        EXPECT_LE(p.value, p.highest());
        EXPECT_EQ(p.listener, nullptr);
        EXPECT_EQ(p.sinceVersion, 0);
    }
}

struct SpotCheck {
    const char* label;
    int index;
    const char* name;
    const char* group;
    int shape;
    float min, max, curve, defaultValue;
    float shown;
    const char* text;
};

TEST_F(BandSynthParams, SpotChecksAcrossBlocks) {
    const SpotCheck cases[] = {
        {"track amp", 0, "Amp", "Track 1", Param::PowerCurve, 0, 4, 2, 1, 4, "+12 dB"},
        {"track pan", 21, "Pan", "Track 2", Param::Linear, -100, 100, 0, 0, -30, "30 L"},
        {"track send", 44, "Send 1", "Track 3", Param::PowerCurve, 0, 4, 2, 0, 1, "+0 dB"},
        {"track output", 66, "Output", "Track 4", Param::Stepped, 0, 8, 0, 0, 8, "Bus 8"},
        {"track width", 87, "Width", "Track 5", Param::Linear, 0, 100, 0, 25, 25, "25%"},
        {"track timescale", 108, "Timescale", "Track 6", Param::Exponential, 0.125f, 8, 0, 1, 2, "2.00"},
        {"track frequency", 129, "Frequency", "Track 7", Param::Linear, -800, 800, 0, 0, 40, "+40 mel"},
        {"track model", 152, "Model", "Track 8", Param::Stepped, 0, 10, 0, 0, 7, "Hihat Closed"},
        {"track dynamics", 13, "Dynamics", "Track 1", Param::Linear, 0, 100, 0, 50, 50, "50%"},
        {"track seed mode", 15, "Seed Mode", "Track 1", Param::Stepped, 0, 1, 0, 0, 1, "Frozen"},
        {"track seed", 16, "Seed", "Track 1", Param::Stepped, 0, 999, 0, 666, 666, "666"},
        {"track polyphony", 17, "Polyphony", "Track 1", Param::Stepped, 1, 4, 0, 1, 3, "3"},
        {"track release", 18, "Release", "Track 1", Param::Exponential, 0.01f, 100, 0, 10, 0.5f, "0.50 s"},
        {"track damping", 19, "Damping", "Track 1", Param::Linear, 0, 100, 0, 25, 25, "25%"},
        {"global amp", 160, "Amp", "Global", Param::Linear, -100, 100, 0, 1, 1, "1"},
        {"global transform", 164, "Transform", "Global", Param::Linear, -100, 100, 0, 0, 12.5f, "12.5"},
        {"global density", 165, "Density", "Global", Param::Linear, -100, 100, 0, 0, 5, "+5"},
        {"env initial", 166, "Initial", "Env1", Param::Linear, 0, 1, 0, 0.2f, 0.2f, "0.200"},
        {"env attack", 175, "Attack", "Env2", Param::PowerCurve, 0, 5000, 4, 10, 10, "10 ms"},
        {"env release", 186, "Release", "Env3", Param::PowerCurve, 0.01f, 10, 3, 0.2f, 0.2f, "0.20 s"},
        {"env attack shape", 195, "Attack Shape", "Env4", Param::Linear, -1, 1, 0, -0.5f, -0.5f, "-0.50"},
        {"env release shape", 197, "Release Shape", "Env4", Param::Linear, -1, 1, 0, 0.5f, 0.5f, "0.50"},
        {"lfo beatsync", 198, "Beatsync", "LFO1", Param::Stepped, 0, 1, 0, 0, 1, "on"},
        {"lfo rate", 205, "Rate", "LFO2", Param::PowerCurve, 0.01f, 20, 2, 0.25f, 0.25f, "0.25 Hz"},
        {"lfo beat rate", 212, "Beat Rate", "LFO3", Param::Stepped, 0, 14, 0, 7, 14, "1/32"},
        {"lfo loop", 219, "Loop", "LFO4", Param::Stepped, 0, 1, 0, 1, 0, "off"},
        {"mod source", 222, "Source", "Mod1", Param::Stepped, 0, 14, 0, 0, 14, "Noise Hold"},
        {"mod amount", 227, "Amount", "Mod2", Param::Linear, -1, 1, 0, 0, 0.5f, "+0.500"},
        {"mod scaler", 232, "Scaler", "Mod3", Param::Stepped, 0, 5, 0, 0, 5, "Note Octave"},
        {"mod target", 253, "Target", "Mod8", Param::Stepped, 0, 101, 0, 7, 0, "Global Amp"},
        {"send 1 power", 254, "Power", nullptr, Param::Stepped, 0, 1, 0, 1, 1, "on"},
        {"send 1 type", 255, "Type", nullptr, Param::Stepped, 0, 7, 0, 0, 7, "Stereo Fuzz"},
        {"chorus depth", 256, "Depth", nullptr, Param::Exponential, 1, 100, 0, 10, 10, "10.0 cent"},
        {"chorus rate", 257, "Rate", nullptr, Param::PowerCurve, 0.5f, 10, 2, 2, 2, "2.00 Hz"},
        {"send 2 power", 258, "Power", nullptr, Param::Stepped, 0, 1, 0, 0, 0, "off"},
        {"send 2 type", 259, "Type", nullptr, Param::Stepped, 0, 7, 0, 1, 1, "Diffuser"},
        {"diffuser length", 260, "Length", nullptr, Param::Linear, 0, 100, 0, 50, 50, "50"},
        {"diffuser pre-delay", 261, "Pre-delay", nullptr, Param::PowerCurve, 0, 300, 2, 10, 10, "10 ms"},
        {"main 1 type", 263, "Type", nullptr, Param::Stepped, 0, 5, 0, 0, 5, "Transformer Amp"},
        {"main 1 gain", 264, "Gain", nullptr, Param::Linear, 0, 48, 0, 6, 6, "6 dB"},
        {"main 2 type", 267, "Type", nullptr, Param::Stepped, 0, 5, 0, 1, 1, "L.A. Optical"},
        // Main 2 starts configured like Main 1; its own unit is installed later.
        {"main 2 gain", 268, "Gain", nullptr, Param::Linear, 0, 48, 0, 6, 6, "6 dB"},
        {"main 2 speed", 269, "Speed", nullptr, Param::Linear, 0, 100, 0, 50, 50, "50"},
    };
    for (const SpotCheck& c : cases) {
        SCOPED_TRACE(c.label);
        const Param& p = at(c.index);
        EXPECT_STREQ(p.name, c.name);
        if (c.group == nullptr)
            EXPECT_EQ(p.group, nullptr);
        else
            EXPECT_STREQ(p.group, c.group);
        EXPECT_EQ(p.shape, c.shape);
        EXPECT_FLOAT_EQ(p.min, c.min);
        EXPECT_FLOAT_EQ(p.max, c.max);
        if (c.shape == Param::PowerCurve) {
            EXPECT_EQ(p.curve, c.curve);
        }
        EXPECT_FLOAT_EQ(p.defaultValue, c.defaultValue);
        EXPECT_EQ(text(p, c.shown), c.text);
    }
}

TEST_F(BandSynthParams, GainsAreTypedInDecibels) {
    for (int offset : {trackAmp, trackSend1, trackSend2}) {
        const Param& p = track(2, offset);
        ASSERT_NE(p.fromText, nullptr);
        EXPECT_NEAR(p.fromText(-6), 0.501f, 0.001f);
        EXPECT_EQ(text(p, 0), "-inf dB");
    }
    EXPECT_EQ(track(0, trackPan).fromText, nullptr);
    EXPECT_EQ(text(track(0, trackPan), 0), "0  ");
}

TEST_F(BandSynthParams, SnapValues) {
    struct Case {
        const char* label;
        int index;
        std::vector<float> snaps;
    };
    const int t = synth().layout.trackBase[3];
    const int g = synth().layout.globalBase;
    const Case cases[] = {
        {"track amp", t + trackAmp, {1}},
        {"track pan", t + trackPan, {0}},
        {"track timescale", t + trackTimescale, {1}},
        {"track density", t + trackDensity, {0}},
        {"track clip", t + trackClip, {}},
        {"track transform", t + trackTransform, {}},
        {"track send 2", t + trackSend2, {}},
        {"track width", t + trackWidth, {}},
        {"global timescale", g + globalTimescale, {1}},
        {"global transform", g + globalTransform, {0, 100}},
        {"mod amount", synth().layout.modSlotBase[5] + modAmount, {0}},
        {"env decay", synth().layout.envBase[1] + envDecay, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Param& p = at(c.index);
        ASSERT_EQ(p.snapCount, static_cast<int>(c.snaps.size()));
        for (size_t i = 0; i < c.snaps.size(); ++i) EXPECT_EQ(p.snapValues[i], c.snaps[i]);
    }
}

TEST_F(BandSynthParams, HostList) {
    const std::vector<int>& host = synth().hostParams;
    // Per track, in index order: everything but Output, Model, Dynamics and the voice settings.
    const int exposedOffsets[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 14};
    for (int t = 0; t < 8; ++t)
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(host[static_cast<size_t>(t * 12 + i)], 20 * t + exposedOffsets[i]);
    for (int g = 0; g < 6; ++g) EXPECT_EQ(host[static_cast<size_t>(96 + g)], 160 + g);
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(host[static_cast<size_t>(102 + j)], synth().layout.modSlotBase[j] + modAmount);
    for (size_t h = 0; h < host.size(); ++h) EXPECT_EQ(at(host[h]).hostIndex, static_cast<int>(h));

    struct Case {
        int hostIndex;
        const char* name;
    };
    const Case names[] = {{0, "Track 1 Amp"},  {13, "Track 2 Pan"},     {95, "Track 8 Density"},
                          {96, "Global Amp"},  {101, "Global Density"}, {104, "Mod3 Amount"},
                          {109, "Mod8 Amount"}};
    for (const Case& c : names) EXPECT_EQ(hostName(at(host[static_cast<size_t>(c.hostIndex)])), c.name);

    int hidden = 0;
    for (const Param& p : synth().params) hidden += p.hostIndex < 0 ? 1 : 0;
    EXPECT_EQ(hidden, 160);
}

TEST_F(BandSynthParams, ModulationTargets) {
    const BandSynth& s = synth();
    ASSERT_EQ(s.modTargets.size(), 102u);
    EXPECT_EQ(s.globalTargets, (std::vector<int>{160, 161, 162, 163, 164, 165}));
    const int trackOrder[] = {8, 9, 10, 11, 14, 0, 1, 7, 2, 3, 4, 5};
    for (int t = 0; t < 8; ++t) {
        ASSERT_EQ(s.trackTargets[static_cast<size_t>(t)].size(), 12u);
        for (int i = 0; i < 12; ++i) {
            const int expected = 20 * t + trackOrder[i];
            EXPECT_EQ(s.modTargets[static_cast<size_t>(6 + 12 * t + i)], expected);
            EXPECT_EQ(s.trackTargets[static_cast<size_t>(t)][static_cast<size_t>(i)], expected);
        }
    }

    // Slot j starts on target j, and every target value names its parameter.
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(at(s.layout.modSlotBase[j] + modTarget).value, static_cast<float>(j));
    const Param& target = at(s.layout.modSlotBase[0] + modTarget);
    for (int v = 0; v < 102; ++v) {
        const Param& p = at(s.modTargets[static_cast<size_t>(v)]);
        EXPECT_EQ(text(target, static_cast<float>(v)), std::string(p.group) + " " + p.name);
    }
    // Track 3 Pan: the third track's seventh target.
    EXPECT_EQ(text(target, 6 + 2 * 12 + 6), "Track 3 Pan");
    EXPECT_STREQ(target.valueTexts[6 + 2 * 12 + 6], "Track 3|Pan");
}

TEST_F(BandSynthParams, ValueTextLists) {
    const BandSynth& s = synth();
    const Param& beatRate = at(s.layout.lfoBase[0] + lfoBeatRate);
    const char* rates[] = {"4/1",  "3/1", "2/1", "3/2",  "1/1",  "6/8",  "1/2", "1/4",
                           "3/16", "1/6", "1/8", "1/12", "1/16", "1/24", "1/32"};
    ASSERT_EQ(beatRate.valueTextCount, 15);
    for (int r = 0; r < 15; ++r) EXPECT_STREQ(beatRate.valueTexts[r], rates[r]);

    const Param& source = at(s.layout.modSlotBase[0] + modSource);
    const char* sources[] = {"-",          "Env 1",       "Env 2",      "Env 3",       "Env 4",
                             "LFO 1",      "LFO 2",       "LFO 3",      "LFO 4",       "Constant",
                             "BPM Octave", "Noise White", "Noise Pink", "Noise Brown", "Noise Hold"};
    ASSERT_EQ(source.valueTextCount, 15);
    for (int i = 0; i < 15; ++i) EXPECT_STREQ(source.valueTexts[i], sources[i]);

    const Param& output = track(0, trackOutput);
    ASSERT_EQ(output.valueTextCount, 9);
    EXPECT_STREQ(output.valueTexts[0], "Main");
    for (int bus = 1; bus <= 8; ++bus) EXPECT_EQ(output.valueTexts[bus], "Bus " + std::to_string(bus));

    const Param& model = track(0, trackModel);
    ASSERT_EQ(model.valueTextCount, 11);
    EXPECT_STREQ(model.valueTexts[10], "Piano");

    EXPECT_EQ(at(s.layout.fxSlotBase[0] + fxType).valueTextCount, 8);
    EXPECT_EQ(at(s.layout.fxSlotBase[3] + fxType).valueTextCount, 6);
}

TEST_F(BandSynthParams, EnvelopeDecayDefaults) {
    const float decays[] = {0.3f, 0.6f, 0.9f, 1.2f};
    for (int k = 0; k < 4; ++k)
        EXPECT_FLOAT_EQ(at(synth().layout.envBase[k] + envDecay).defaultValue, decays[k]);
}

TEST_F(BandSynthParams, EnginesAreIndependentButShareTexts) {
    BandSynth a;
    BandSynth b;
    // Values are per engine ...
    a.param(a.layout.trackBase[2] + trackClip).set(1000);
    EXPECT_EQ(a.param(a.layout.trackBase[2] + trackClip).value, 100.0f);
    EXPECT_EQ(a.param(a.layout.trackBase[2] + trackClip).requested, 1000.0f);
    EXPECT_EQ(b.param(b.layout.trackBase[2] + trackClip).value, 0.0f);

    Param& polyphony = a.param(a.layout.trackBase[0] + trackPolyphony);
    EXPECT_EQ(polyphony.setNormalized(0.5f), 3.0f);
    Param& beatRate = a.param(a.layout.lfoBase[1] + lfoBeatRate);
    EXPECT_EQ(beatRate.setNormalized(1.0f), 14.0f);

    // ... and the texts are built once for all of them.
    for (int offset : {trackOutput, trackModel})
        EXPECT_EQ(a.param(offset).valueTexts, b.param(offset).valueTexts);
    EXPECT_EQ(a.param(a.layout.modSlotBase[0] + modTarget).valueTexts,
              b.param(b.layout.modSlotBase[0] + modTarget).valueTexts);
    EXPECT_EQ(a.param(0).group, b.param(0).group);
}

} // namespace
} // namespace tarvo
