// Loads the freshly built VST3 and LV2 bundles the way a host does, through JUCE's own plug-in
// hosting, and checks what a host sees of them: class information, parameters, buses,
// programs, notes and the host transport, state, automation and processing at every block
// size and rate a host may choose.

#include <gtest/gtest.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HostFixtures.h"

namespace tarvo {
namespace {

using hosttest::Format;
using hosttest::Render;

constexpr int hostParameterCount = 110;
constexpr int outputBusCount = 9;
// The note that plays track 1.
constexpr int trackOneNote = 36;
// The engine's hop: the grid notes and pattern steps start on.
constexpr int hopSamples = 64;

std::string formatName(Format format) {
    return format == Format::vst3 ? "VST3" : "LV2";
}

std::unique_ptr<juce::AudioPluginFormat> makeFormat(Format format) {
    if (format == Format::vst3) return std::make_unique<juce::VST3PluginFormat>();
    return std::make_unique<juce::LV2PluginFormat>();
}

// Scans the bundle as a host does and returns the descriptions it finds.
std::vector<juce::PluginDescription> scan(juce::AudioPluginFormat& format, Format kind) {
    juce::OwnedArray<juce::PluginDescription> found;
    if (kind == Format::vst3) {
        format.findAllTypesForFile(found, juce::File(TARVO_VST3_BUNDLE).getFullPathName());
    } else {
        const auto uris = format.searchPathsForPlugins(
            juce::FileSearchPath(juce::File(TARVO_LV2_FOLDER).getFullPathName()), true, false);
        if (uris.contains(TARVO_LV2_URI)) format.findAllTypesForFile(found, TARVO_LV2_URI);
    }
    std::vector<juce::PluginDescription> result;
    for (const auto* description : found) result.push_back(*description);
    return result;
}

class PluginBundle : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        format_ = makeFormat(GetParam());
        const auto found = scan(*format_, GetParam());
        ASSERT_EQ(found.size(), 1u) << "the bundle must hold exactly one plug-in";
        description_ = found.front();
        instance_ = createInstance();
        ASSERT_NE(instance_, nullptr);
    }

    std::unique_ptr<juce::AudioPluginInstance> createInstance() {
        juce::String error;
        auto instance = format_->createInstanceFromDescription(description_, 48000.0, 512, error);
        EXPECT_NE(instance, nullptr) << error;
        return instance;
    }

    void loadState(const std::vector<uint8_t>& state, juce::AudioPluginInstance* instance = nullptr) {
        hosttest::loadPluginState(instance != nullptr ? *instance : *instance_, GetParam(), state);
    }

    struct Note {
        int64_t at; // sample
        int number;
    };

    // Prepares for rate and renders seconds of audio in blocks of blockSize, playing notes;
    // a transport, when given, moves on with every block. Returns every output channel.
    static Render render(juce::AudioPluginInstance& instance, double sampleRate, int blockSize,
                         double seconds, const std::vector<Note>& notes = {{0, trackOneNote}},
                         hosttest::SteadyTransport* transport = nullptr, bool prepare = true) {
        instance.setPlayHead(transport);
        // The rate comes through the preparation only: JUCE's hosting skips a preparation whose
        // rate and size the instance already claims.
        if (prepare) instance.prepareToPlay(sampleRate, blockSize);
        const int channels = std::max(instance.getTotalNumOutputChannels(), 2);
        juce::AudioBuffer<float> buffer(channels, blockSize);
        juce::MidiBuffer midi;
        const auto total = static_cast<int64_t>(std::ceil(seconds * sampleRate));
        Render out(static_cast<size_t>(channels));
        for (int64_t start = 0; start < total; start += blockSize) {
            midi.clear();
            for (const auto& note : notes)
                if (note.at >= start && note.at < start + blockSize)
                    midi.addEvent(juce::MidiMessage::noteOn(1, note.number, static_cast<juce::uint8>(110)),
                                  static_cast<int>(note.at - start));
            buffer.clear();
            instance.processBlock(buffer, midi);
            if (transport != nullptr) transport->advance(blockSize);
            for (int c = 0; c < channels; ++c)
                out[static_cast<size_t>(c)].insert(out[static_cast<size_t>(c)].end(),
                                                   buffer.getReadPointer(c),
                                                   buffer.getReadPointer(c) + blockSize);
        }
        return out;
    }
    Render render(double sampleRate, int blockSize, double seconds,
                  const std::vector<Note>& notes = {{0, trackOneNote}}) {
        return render(*instance_, sampleRate, blockSize, seconds, notes);
    }

    std::vector<uint8_t> stateOf(juce::AudioPluginInstance& instance) {
        juce::MemoryBlock block;
        instance.getStateInformation(block);
        const auto* bytes = static_cast<const uint8_t*>(block.getData());
        return {bytes, bytes + block.getSize()};
    }

    std::unique_ptr<juce::AudioPluginFormat> format_;
    juce::PluginDescription description_;
    std::unique_ptr<juce::AudioPluginInstance> instance_;
};

TEST_P(PluginBundle, DescribesItselfAsTheTarvoInstrument) {
    EXPECT_EQ(description_.name, "Tarvo");
    EXPECT_EQ(description_.manufacturerName, "Brannock");
    EXPECT_TRUE(description_.isInstrument);
    EXPECT_EQ(description_.numInputChannels, 0);
    if (GetParam() == Format::vst3) {
        EXPECT_EQ(description_.version, "1.1.2");
        EXPECT_EQ(description_.category, "Instrument|Synth");
        // Hosts find saved projects' plug-ins by this identifier; it must never change.
        EXPECT_EQ(static_cast<juce::uint32>(description_.uniqueId), 0xaeb5e6eeu);
    } else {
        EXPECT_EQ(description_.fileOrIdentifier, TARVO_LV2_URI);
        EXPECT_EQ(description_.category, "Instrument Plugin");
        // JUCE's LV2 host reads no version; hosts that do read it from the bundle's description,
        // with the maker's home page.
        const juce::String dsp =
            juce::File(TARVO_LV2_FOLDER).getChildFile("Tarvo.lv2").getChildFile("dsp.ttl").loadFileAsString();
        EXPECT_TRUE(dsp.contains("doap:revision \"1.1.2\"")) << dsp.substring(0, 200);
        EXPECT_TRUE(dsp.contains("lv2:minorVersion 1 ;") && dsp.contains("lv2:microVersion 2 ;"));
        EXPECT_TRUE(dsp.contains("foaf:homepage <https://brannock.audio>"));
    }
    EXPECT_TRUE(instance_->acceptsMidi());
    EXPECT_FALSE(instance_->producesMidi());
}

// The names of the instrument's own parameters, in host order: the bypass switch and the
// controller parameters a VST3 build adds for MIDI controllers are the wrapper's, not ours.
std::vector<std::string> ownParameterNames(juce::AudioPluginInstance& instance) {
    std::vector<std::string> names;
    for (auto* parameter : instance.getParameters()) {
        const juce::String name = parameter->getName(100);
        // The VST3 wrapper adds its own program-change and MIDI controller parameters.
        if (parameter != instance.getBypassParameter() && name != "Bypass" && name != "Program" &&
            !name.startsWith("MIDI CC "))
            names.push_back(name.toStdString());
    }
    return names;
}

// The 110 host parameter names in host order.
std::vector<std::string> expectedParameterNames() {
    const char* const trackNames[] = {"Amp",   "Pan",       "Filter",    "Clip",     "Send 1",    "Send 2",
                                      "Width", "Timescale", "Frequency", "Contrast", "Transform", "Density"};
    const char* const globalNames[] = {"Amp", "Timescale", "Frequency", "Contrast", "Transform", "Density"};
    std::vector<std::string> names;
    for (int t = 1; t <= 8; ++t)
        for (const char* name : trackNames) names.push_back("Track " + std::to_string(t) + " " + name);
    for (const char* name : globalNames) names.push_back(std::string("Global ") + name);
    for (int j = 1; j <= 8; ++j) names.push_back("Mod" + std::to_string(j) + " Amount");
    return names;
}

TEST_P(PluginBundle, ExposesTheHostParameters) {
    auto names = ownParameterNames(*instance_);
    auto expected = expectedParameterNames();
    ASSERT_EQ(static_cast<int>(expected.size()), hostParameterCount);
    // LV2 hosts list parameters by their identifiers, so only VST3 keeps the host order.
    if (GetParam() == Format::lv2) {
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(names, expected);
}

TEST_P(PluginBundle, RendersCleanAudioAtEveryBlockSizeAndRate) {
    loadState(hosttest::startKitState());
    for (const double rate : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        for (const int blockSize : {1, 7, 64, 333, 4096}) {
            const Render out = render(rate, blockSize, 0.1);
            EXPECT_FALSE(hosttest::hasBadSamples(out)) << rate << " Hz, " << blockSize << " frames";
            EXPECT_GT(hosttest::peakOf(out[0]), 1e-3f) << rate << " Hz, " << blockSize << " frames";
        }
    }
}

TEST_P(PluginBundle, KeepsPlayingAcrossARateChange) {
    loadState(hosttest::startKitState());
    instance_->prepareToPlay(44100.0, 512);
    render(*instance_, 44100.0, 512, 0.2, {{0, trackOneNote}}, nullptr, false);
    // A host that changes the rate prepares again without releasing first.
    instance_->prepareToPlay(96000.0, 480);
    const Render out = render(*instance_, 96000.0, 480, 0.3, {{0, trackOneNote}}, nullptr, false);
    EXPECT_FALSE(hosttest::hasBadSamples(out));
    EXPECT_GT(hosttest::peakOf(out[0]), 1e-3f);
}

TEST_P(PluginBundle, PlaysTrackOneOnTheMainBus) {
    loadState(hosttest::startKitState());
    const Render out = render(48000.0, 512, 0.5);
    EXPECT_GT(hosttest::peakOf(out[0]), 1e-3f);
    EXPECT_GT(hosttest::peakOf(out[1]), 1e-3f);
}

TEST_P(PluginBundle, RoutesATrackToItsOutputBus) {
    constexpr int bus = 3;
    loadState(hosttest::startKitState([](Ombrix& plugin) {
        Param* track = &plugin.engine.param(plugin.engine.layout.trackBase[0]);
        track[trackOutput].set(static_cast<float>(bus));
        track[trackSend1].set(0.0f);
        track[trackSend2].set(0.0f);
    }));
    juce::AudioProcessor::BusesLayout layout;
    for (int b = 0; b < outputBusCount; ++b) layout.outputBuses.add(juce::AudioChannelSet::stereo());
    ASSERT_TRUE(instance_->setBusesLayout(layout));
    const Render out = render(48000.0, 512, 0.5);
    ASSERT_EQ(out.size(), static_cast<size_t>(2 * outputBusCount));
    EXPECT_GT(hosttest::peakOf(out[2 * bus]), 1e-3f);
    EXPECT_GT(hosttest::peakOf(out[2 * bus + 1]), 1e-3f);
    EXPECT_EQ(hosttest::peakOf(out[0]), 0.0f);
    EXPECT_EQ(hosttest::peakOf(out[1]), 0.0f);
}

TEST_P(PluginBundle, PatternPlaysInTimeWithTheHostTransport) {
    constexpr double rate = 48000.0, bpm = 120.0;
    constexpr int blockSize = 256;
    // Track 1 on the first and the ninth step: quarter notes 0 and 2 of every bar.
    loadState(hosttest::startKitState([](Ombrix& plugin) {
        hosttest::playTrackOneOnSteps(plugin, {0, 8}, true);
        Param* track = &plugin.engine.param(plugin.engine.layout.trackBase[0]);
        track[trackSend1].set(0.0f);
        track[trackSend2].set(0.0f);
    }));

    // Where each hit crosses a fixed level, measured from where the pattern puts it on the host's
    // timeline. The hits' attack makes the offset positive; following the host makes it the same
    // for every hit, whatever position the transport starts from.
    const double samplesPerQuarter = rate * 60.0 / bpm;
    std::vector<double> offsets;
    for (const double startQuarters : {0.3, 1.1}) {
        hosttest::SteadyTransport transport(bpm, startQuarters, rate);
        const Render out = render(*instance_, rate, blockSize, 2.2, {}, &transport);
        const float threshold = 0.05f * hosttest::peakOf(out[0]);
        ASSERT_GT(threshold, 0.0f) << "the pattern made no sound";
        for (const double quarter : {2.0, 4.0}) {
            const auto due = static_cast<size_t>((quarter - startQuarters) * samplesPerQuarter);
            const auto onset = hosttest::firstAbove(out[0], due - 2400, due + 4800, threshold);
            ASSERT_TRUE(onset.has_value()) << "no hit near quarter " << quarter << " from " << startQuarters;
            offsets.push_back(static_cast<double>(*onset) - static_cast<double>(due));
        }
    }
    for (const double offset : offsets) {
        EXPECT_GE(offset, -hopSamples);
        EXPECT_LT(offset, 1024.0) << "far later than the attack of a hit";
        EXPECT_NEAR(offset, offsets.front(), hopSamples);
    }
}

TEST_P(PluginBundle, StateTravelsWholeToAnotherInstance) {
    loadState(hosttest::startKitState([](Ombrix& plugin) {
        hosttest::playTrackOneOnSteps(plugin, {0, 4, 10}, false);
    }));
    const auto saved = stateOf(*instance_);

    auto second = createInstance();
    ASSERT_NE(second, nullptr);
    second->setStateInformation(saved.data(), static_cast<int>(saved.size()));
    EXPECT_EQ(stateOf(*second), saved);
}

// The effect units a state asks for must be in place when playback starts, not whenever the
// next idle tick happens to come, or two instances drift apart by the timer's luck.
TEST_P(PluginBundle, InstancesOpenedFromOneStateSoundAlike) {
    loadState(hosttest::startKitState([](Ombrix& plugin) {
        hosttest::playTrackOneOnSteps(plugin, {0, 4, 10}, false);
    }));
    const auto saved = stateOf(*instance_);
    auto second = createInstance();
    auto third = createInstance();
    ASSERT_NE(second, nullptr);
    ASSERT_NE(third, nullptr);
    second->setStateInformation(saved.data(), static_cast<int>(saved.size()));
    third->setStateInformation(saved.data(), static_cast<int>(saved.size()));

    const std::vector<Note> notes = {{0, trackOneNote}, {3000, trackOneNote + 1}, {9000, trackOneNote + 2}};
    const Render first = render(*second, 48000.0, 333, 0.5, notes);
    const Render other = render(*third, 48000.0, 333, 0.5, notes);
    EXPECT_GT(hosttest::peakOf(first[0]), 1e-3f);
    EXPECT_EQ(first, other);
}

TEST_P(PluginBundle, SurvivesEveryParameterAutomatedAcrossItsRange) {
    constexpr double rate = 48000.0;
    constexpr int blockSize = 128;
    loadState(hosttest::startKitState([](Ombrix& plugin) {
        hosttest::playTrackOneOnSteps(plugin, {0, 2, 4, 6, 8, 12}, true);
    }));
    hosttest::SteadyTransport transport(140.0, 0.0, rate);
    instance_->prepareToPlay(rate, blockSize);
    // Normalized values a host may send, including values outside 0..1.
    const float sweep[] = {0.0f, 1.0f, 0.5f, -0.5f, 1.5f, 0.999f, 0.001f, 0.25f};
    auto& parameters = instance_->getParameters();
    bool clean = true;
    for (const float value : sweep) {
        for (auto* parameter : parameters) {
            if (parameter == instance_->getBypassParameter() ||
                parameter->getName(100).startsWith("MIDI CC "))
                continue;
            parameter->setValue(value);
            const Render out = render(*instance_, rate, blockSize, 2.0 * blockSize / rate,
                                      {{0, trackOneNote}}, &transport, false);
            if (hosttest::hasBadSamples(out)) {
                ADD_FAILURE() << parameter->getName(100) << " at " << value;
                clean = false;
                break;
            }
        }
        if (!clean) break;
    }
}

// A VST3 host sees no program list when there is only one program.
TEST_P(PluginBundle, EveryProgramHasAName) {
    for (int p = 0; p < instance_->getNumPrograms(); ++p) {
        EXPECT_TRUE(instance_->getProgramName(p).trim().isNotEmpty()) << "program " << p;
        instance_->setCurrentProgram(p);
    }
    EXPECT_FALSE(hosttest::hasBadSamples(render(48000.0, 512, 0.2)));
}

TEST_P(PluginBundle, OffersOneToNineStereoOutputBuses) {
    ASSERT_EQ(instance_->getBusCount(false), outputBusCount);
    EXPECT_EQ(instance_->getBusCount(true), 0);
    for (int b = 0; b < outputBusCount; ++b)
        EXPECT_EQ(instance_->getBus(false, b)->getName(),
                  b == 0 ? juce::String("Main") : "Bus " + juce::String(b));
    EXPECT_EQ(instance_->getMainBusNumOutputChannels(), 2);

    for (int enabled = 1; enabled <= outputBusCount; ++enabled) {
        // Each layout on a new instance, as a host offers it when inserting the plug-in.
        instance_ = createInstance();
        ASSERT_NE(instance_, nullptr);
        juce::AudioProcessor::BusesLayout layout;
        for (int b = 0; b < outputBusCount; ++b)
            layout.outputBuses.add(b < enabled ? juce::AudioChannelSet::stereo()
                                               : juce::AudioChannelSet::disabled());
        EXPECT_TRUE(instance_->setBusesLayout(layout)) << enabled << " buses";
        EXPECT_EQ(instance_->getTotalNumOutputChannels(), 2 * enabled);
        EXPECT_FALSE(hosttest::hasBadSamples(render(44100.0, 256, 0.05))) << enabled << " buses";
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PluginBundle, ::testing::Values(Format::vst3, Format::lv2),
                         [](const auto& info) { return formatName(info.param); });

// Parameter groups and value texts reach VST3 hosts; LV2 hosts show plain values.
class Vst3Bundle : public PluginBundle {};

TEST_P(Vst3Bundle, DefaultsShowInTheParametersOwnUnits) {
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"Track 1 Amp", "+0 dB"},      {"Track 2 Timescale", "1.00"}, {"Track 3 Frequency", "+0 mel"},
        {"Track 8 Width", "25%"},      {"Global Timescale", "1.00"},  {"Mod3 Amount", "+0.000"},
        {"Track 4 Send 1", "-inf dB"},
    };
    for (const auto& c : cases) {
        juce::AudioProcessorParameter* found = nullptr;
        for (auto* parameter : instance_->getParameters())
            if (parameter->getName(100) == c.name) found = parameter;
        ASSERT_NE(found, nullptr) << c.name;
        EXPECT_EQ(found->getText(found->getDefaultValue(), 100).trim().toStdString(), c.text) << c.name;
    }
}

TEST_P(Vst3Bundle, GroupsParametersByTheirGroupNames) {
    const auto& tree = instance_->getParameterTree();
    std::map<juce::String, juce::String> groupOf;
    for (const auto* group : tree.getSubgroups(true))
        for (const auto* parameter : group->getParameters(false))
            groupOf[parameter->getName(100)] = group->getName();
    const std::pair<const char*, const char*> cases[] = {
        {"Track 1 Amp", "Track 1"},
        {"Track 8 Density", "Track 8"},
        {"Global Density", "Global"},
        {"Mod3 Amount", "Mod3"},
    };
    for (const auto& [parameter, group] : cases)
        EXPECT_EQ(groupOf[parameter].toStdString(), group) << parameter;
}

INSTANTIATE_TEST_SUITE_P(Formats, Vst3Bundle, ::testing::Values(Format::vst3),
                         [](const auto& info) { return formatName(info.param); });

} // namespace
} // namespace tarvo
