// Loads the freshly built VST3 and LV2 bundles the way a host does, through JUCE's own plug-in
// hosting, and checks what a host sees of them: class information, parameters, buses and
// processing at every block size and rate a host may choose.

#include <gtest/gtest.h>

#include <juce_audio_processors/juce_audio_processors.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarvo {
namespace {

constexpr int hostParameterCount = 110;
constexpr int outputBusCount = 9;

enum class Format { vst3, lv2 };

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
        juce::String error;
        instance_ = format_->createInstanceFromDescription(description_, 48000.0, 512, error);
        ASSERT_NE(instance_, nullptr) << error;
    }

    // Renders `seconds` of audio in blocks of `blockSize`, with a note on track 1 at the
    // start, and returns the largest magnitude seen; NaN when any sample is not finite.
    float render(double sampleRate, int blockSize, double seconds) {
        instance_->setRateAndBufferSizeDetails(sampleRate, blockSize);
        instance_->prepareToPlay(sampleRate, blockSize);
        juce::AudioBuffer<float> buffer(std::max(instance_->getTotalNumOutputChannels(), 2), blockSize);
        juce::MidiBuffer midi;
        float peak = 0.0f;
        const int blocks = static_cast<int>(std::ceil(seconds * sampleRate / blockSize));
        for (int b = 0; b < blocks; ++b) {
            midi.clear();
            if (b == 0) midi.addEvent(juce::MidiMessage::noteOn(1, 36, static_cast<juce::uint8>(110)), 0);
            buffer.clear();
            instance_->processBlock(buffer, midi);
            for (int c = 0; c < buffer.getNumChannels(); ++c) {
                for (int i = 0; i < blockSize; ++i) {
                    const float sample = buffer.getSample(c, i);
                    if (!std::isfinite(sample)) return NAN;
                    peak = std::max(peak, std::fabs(sample));
                }
            }
        }
        instance_->releaseResources();
        return peak;
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
        if (parameter != instance.getBypassParameter() && name != "Bypass" && !name.startsWith("MIDI CC "))
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

TEST_P(PluginBundle, RendersFiniteAudioAtEveryBlockSizeAndRate) {
    for (const double rate : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
        for (const int blockSize : {1, 7, 64, 333, 4096}) {
            const float peak = render(rate, blockSize, 0.1);
            EXPECT_TRUE(std::isfinite(peak)) << rate << " Hz, " << blockSize << " frames";
        }
    }
}

TEST_P(PluginBundle, OffersOneToNineStereoOutputBuses) {
    ASSERT_EQ(instance_->getBusCount(false), outputBusCount);
    EXPECT_EQ(instance_->getBusCount(true), 0);
    for (int b = 0; b < outputBusCount; ++b)
        EXPECT_EQ(instance_->getBus(false, b)->getName(),
                  b == 0 ? juce::String("Main") : "Bus " + juce::String(b));
    EXPECT_EQ(instance_->getMainBusNumOutputChannels(), 2);

    for (int enabled = 1; enabled <= outputBusCount; ++enabled) {
        juce::AudioProcessor::BusesLayout layout;
        for (int b = 0; b < outputBusCount; ++b)
            layout.outputBuses.add(b < enabled ? juce::AudioChannelSet::stereo()
                                               : juce::AudioChannelSet::disabled());
        EXPECT_TRUE(instance_->setBusesLayout(layout)) << enabled << " buses";
        EXPECT_EQ(instance_->getTotalNumOutputChannels(), 2 * enabled);
        EXPECT_TRUE(std::isfinite(render(44100.0, 256, 0.05))) << enabled << " buses";
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
