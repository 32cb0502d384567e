// The processor driven directly: host parameters bound to the engine parameters, value texts,
// activation and the bypass fade.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "HostFixtures.h"
#include "host/TarvoProcessor.h"
#include "instrument/Presets.h"
#include "instrument/StateChunk.h"
#include "persistence/Settings.h"
#include "support/RealtimeGuard.h"
#include "support/ScopedHome.h"
#include "tools/factory/FactoryContent.h"

namespace tarvo {
namespace {

class TarvoProcessorTest : public ::testing::Test {
protected:
    juce::RangedAudioParameter& parameterNamed(TarvoProcessor& processor, const juce::String& name) {
        for (int i = 0;; ++i) {
            auto* parameter = processor.hostParameter(i);
            if (parameter == nullptr) break;
            if (parameter->getName(100) == name) return *parameter;
        }
        ADD_FAILURE() << "no host parameter " << name;
        return *processor.hostParameter(0);
    }

    const Param& engineParam(TarvoProcessor& processor, const juce::RangedAudioParameter& parameter) {
        for (int i = 0;; ++i)
            if (processor.hostParameter(i) == &parameter)
                return processor.plugin().engine.param(
                    processor.plugin().engine.hostParams[static_cast<size_t>(i)]);
    }
};

// Hosts scanning plug-ins, and the build's LV2 manifest step (which opens an editor to measure
// it), create instances that never play: those leave the user's folders alone. The settings
// come with the first idle tick.
TEST_F(TarvoProcessorTest, OnlyTheFirstIdleTickTouchesTheUsersFolders) {
    const test::ScopedHome home;
    {
        TarvoProcessor scanned;
        const std::unique_ptr<juce::AudioProcessorEditor> measured(scanned.createEditor());
    }
    EXPECT_TRUE(std::filesystem::is_empty(home.path()));

    TarvoProcessor played;
    EXPECT_TRUE(std::filesystem::is_empty(home.path()));
    played.runIdleTick();
    EXPECT_TRUE(std::filesystem::exists(Settings::filePath()));
}

TEST_F(TarvoProcessorTest, HostRangesFollowTheEngineMappings) {
    TarvoProcessor processor;
    const auto& engine = processor.plugin().engine;
    ASSERT_FALSE(engine.hostParams.empty());
    for (size_t i = 0; i < engine.hostParams.size(); ++i) {
        const Param& param = engine.param(engine.hostParams[i]);
        const auto& range = processor.hostParameter(static_cast<int>(i))->getNormalisableRange();
        const float tolerance = 1e-5f * std::fabs(param.max - param.min);
        for (const float n : {0.0f, 0.1f, 0.25f, 0.5f, 0.9f, 1.0f}) {
            EXPECT_NEAR(range.convertFrom0to1(n), param.fromNormalized(n), tolerance)
                << param.name << " at " << n;
            EXPECT_NEAR(range.convertTo0to1(param.fromNormalized(n)), n, 1e-5f) << param.name << " at " << n;
        }
    }
}

TEST_F(TarvoProcessorTest, HostChangesReachTheEngineParameters) {
    TarvoProcessor processor;
    struct Case {
        const char* name;
        float normalized;
        float value;
    };
    const Case cases[] = {
        {"Track 1 Amp", 0.5f, 1.0f},         {"Track 1 Amp", 1.0f, 4.0f},
        {"Track 2 Timescale", 1.0f, 8.0f},   {"Track 2 Timescale", 0.0f, 0.125f},
        {"Global Frequency", 0.75f, 400.0f}, {"Track 8 Pan", 0.0f, -100.0f},
        {"Mod3 Amount", 0.25f, -0.5f},
    };
    for (const auto& c : cases) {
        auto& parameter = parameterNamed(processor, c.name);
        parameter.setValueNotifyingHost(c.normalized);
        EXPECT_NEAR(engineParam(processor, parameter).value, c.value, 1e-4f) << c.name;
    }
}

TEST_F(TarvoProcessorTest, ParameterIdentifiersAreStable) {
    TarvoProcessor processor;
    const std::pair<const char*, const char*> cases[] = {
        {"Track 1 Amp", "track1Amp"},
        {"Track 5 Send 2", "track5Send2"},
        {"Global Density", "globalDensity"},
        {"Mod3 Amount", "mod3Amount"},
    };
    for (const auto& [name, id] : cases)
        EXPECT_EQ(parameterNamed(processor, name).getParameterID(), id) << name;
}

TEST_F(TarvoProcessorTest, TypedTextIsReadInTheParametersUnits) {
    TarvoProcessor processor;
    struct Case {
        const char* name;
        const char* text;
        float value;
    };
    const Case cases[] = {
        {"Track 1 Amp", "-6", 0.50119f},  // decibels
        {"Track 1 Amp", "loud", 1.0f},    // not a number: the default
        {"Track 1 Pan", "-30", -30.0f},   // plain value
        {"Track 1 Width", "500", 100.0f}, // clamped to the range
    };
    for (const auto& c : cases) {
        auto& parameter = parameterNamed(processor, c.name);
        parameter.setValueNotifyingHost(parameter.getValueForText(c.text));
        EXPECT_NEAR(engineParam(processor, parameter).value, c.value, 1e-3f)
            << c.name << " '" << c.text << "'";
    }
}

TEST_F(TarvoProcessorTest, AcceptsOnlyLeadingRunsOfStereoBuses) {
    TarvoProcessor processor;
    const auto stereo = juce::AudioChannelSet::stereo();
    const auto mono = juce::AudioChannelSet::mono();
    const auto off = juce::AudioChannelSet::disabled();
    auto layoutOf = [&](std::vector<juce::AudioChannelSet> sets, bool withInput = false) {
        juce::AudioProcessor::BusesLayout layout;
        while (sets.size() < static_cast<size_t>(Ombrix::maxOutputBuses)) sets.push_back(off);
        for (const auto& set : sets) layout.outputBuses.add(set);
        if (withInput) layout.inputBuses.add(stereo);
        return layout;
    };
    for (size_t enabled = 1; enabled <= static_cast<size_t>(Ombrix::maxOutputBuses); ++enabled)
        EXPECT_TRUE(processor.checkBusesLayoutSupported(layoutOf(std::vector(enabled, stereo)))) << enabled;

    struct Case {
        const char* what;
        juce::AudioProcessor::BusesLayout layout;
    };
    const Case refused[] = {
        {"no bus at all", layoutOf({})},
        {"mono main bus", layoutOf({mono})},
        {"mono second bus", layoutOf({stereo, mono})},
        {"gap before a bus", layoutOf({stereo, off, stereo})},
        {"an audio input", layoutOf({stereo}, true)},
    };
    for (const auto& c : refused) EXPECT_FALSE(processor.checkBusesLayoutSupported(c.layout)) << c.what;
}

TEST_F(TarvoProcessorTest, UnpreparedProcessorOutputsSilence) {
    TarvoProcessor processor;
    juce::AudioBuffer<float> buffer(2, 128);
    for (int c = 0; c < 2; ++c) juce::FloatVectorOperations::fill(buffer.getWritePointer(c), 1.0f, 128);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 36, static_cast<juce::uint8>(100)), 0);
    processor.processBlock(buffer, midi);
    EXPECT_EQ(buffer.getMagnitude(0, 128), 0.0f);
}

// Renders blocks of 64 frames at 48 kHz, with a note on track 1 in the first block; returns
// channel 0 of every block, one after the other.
std::vector<float> renderNote(TarvoProcessor& processor, int blocks, int bypassFromBlock) {
    constexpr int blockSize = 64;
    processor.setRateAndBufferSizeDetails(48000.0, blockSize);
    processor.prepareToPlay(48000.0, blockSize);
    processor.runIdleTick(); // the first start: the start kit
    juce::AudioBuffer<float> buffer(2, blockSize);
    juce::MidiBuffer midi;
    std::vector<float> out;
    for (int b = 0; b < blocks; ++b) {
        midi.clear();
        if (b == 0) midi.addEvent(juce::MidiMessage::noteOn(1, 36, static_cast<juce::uint8>(120)), 0);
        if (b == bypassFromBlock) processor.getBypassParameter()->setValueNotifyingHost(1.0f);
        processor.processBlock(buffer, midi);
        out.insert(out.end(), buffer.getReadPointer(0), buffer.getReadPointer(0) + blockSize);
    }
    return out;
}

TEST_F(TarvoProcessorTest, BypassFadesOutWithinTenMilliseconds) {
    constexpr size_t blockSize = 64, bypassBlock = 10, fadeFrames = 480;
    TarvoProcessor processor;
    const auto out = renderNote(processor, 40, bypassBlock);
    const size_t start = bypassBlock * blockSize;
    auto loudest = [&out](size_t from, size_t count) {
        float peak = 0.0f;
        for (size_t i = from; i < from + count; ++i) peak = std::max(peak, std::fabs(out[i]));
        return peak;
    };
    ASSERT_GT(loudest(start - blockSize, blockSize), 0.0f) << "no sound before the bypass";
    EXPECT_GT(loudest(start, blockSize), 0.0f) << "bypass must fade, not cut";
    EXPECT_EQ(loudest(start + fadeFrames, out.size() - start - fadeFrames), 0.0f);
}

std::vector<uint8_t> stateOf(TarvoProcessor& processor) {
    juce::MemoryBlock block;
    processor.getStateInformation(block);
    const auto* bytes = static_cast<const uint8_t*>(block.getData());
    return {bytes, bytes + block.getSize()};
}

void setState(TarvoProcessor& processor, const std::vector<uint8_t>& state) {
    processor.setStateInformation(state.data(), static_cast<int>(state.size()));
}

TEST_F(TarvoProcessorTest, StateIsTheChunkFollowedByTheBypassFlag) {
    const auto kit = hosttest::startKitState();
    for (const bool bypassed : {false, true}) {
        TarvoProcessor processor;
        setState(processor, kit);
        processor.getBypassParameter()->setValueNotifyingHost(bypassed ? 1.0f : 0.0f);
        const auto state = stateOf(processor);
        const auto chunk = saveState(processor.plugin());
        ASSERT_EQ(state.size(), chunk.size() + 4);
        EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), state.begin()));
        EXPECT_EQ(juce::ByteOrder::littleEndianInt(state.data() + chunk.size()), bypassed ? 1u : 0u);

        TarvoProcessor other;
        setState(other, state);
        EXPECT_EQ(other.getBypassParameter()->getValue() > 0.5f, bypassed);
    }
}

TEST_F(TarvoProcessorTest, LoadedValuesReachTheHostParameters) {
    const auto state = hosttest::startKitState([](Ombrix& plugin) {
        Param* track = &plugin.engine.param(plugin.engine.layout.trackBase[1]);
        track[trackPan].set(-40.0f);
        track[trackTimescale].set(2.0f);
    });
    TarvoProcessor processor;
    setState(processor, state);
    EXPECT_NEAR(parameterNamed(processor, "Track 2 Pan")
                    .convertFrom0to1(parameterNamed(processor, "Track 2 Pan").getValue()),
                -40.0f, 1e-3f);
    auto& timescale = parameterNamed(processor, "Track 2 Timescale");
    EXPECT_NEAR(timescale.convertFrom0to1(timescale.getValue()), 2.0f, 1e-3f);
    // Telling the host did not nudge the loaded values.
    const Param* track = &processor.plugin().engine.param(processor.plugin().engine.layout.trackBase[1]);
    EXPECT_EQ(track[trackPan].value, -40.0f);
    EXPECT_EQ(track[trackTimescale].value, 2.0f);
}

TEST_F(TarvoProcessorTest, UnreadableStateChangesNothing) {
    TarvoProcessor processor;
    setState(processor, hosttest::startKitState());
    const auto before = stateOf(processor);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> truncated = before;
    truncated.resize(before.size() / 2);
    std::vector<uint8_t> foreign = before;
    foreign[0] = 'X';
    const Case cases[] = {{"cut in half", truncated}, {"foreign magic", foreign}, {"one byte", {0x4f}}};
    for (const auto& c : cases) {
        setState(processor, c.bytes);
        EXPECT_EQ(stateOf(processor), before) << c.what;
        EXPECT_FALSE(processor.plugin().statusText.empty()) << c.what;
    }
}

// Renders blocks of 256 frames of both channels, with a note on every track at the start of
// every tenth block (the first included) when notes is set.
std::vector<float> renderBlocks(TarvoProcessor& processor, int blocks, bool notes) {
    juce::AudioBuffer<float> buffer(2, 256);
    juce::MidiBuffer midi;
    std::vector<float> out;
    for (int b = 0; b < blocks; ++b) {
        midi.clear();
        if (notes && b % 10 == 0)
            for (int t = 0; t < BandSynth::trackCount; ++t)
                midi.addEvent(juce::MidiMessage::noteOn(1, 36 + t, static_cast<juce::uint8>(110)), 0);
        processor.processBlock(buffer, midi);
        for (int c = 0; c < 2; ++c)
            out.insert(out.end(), buffer.getReadPointer(c), buffer.getReadPointer(c) + 256);
    }
    return out;
}

// A kit loaded into an instance that the host then prepares plays from the next block on,
// and exactly as a fresh instance loaded with the same state: whatever the instance played
// before (echoes in the delay, the channel strips, the output filters, the modulation
// sources' phases) is gone after the host's reset. The kit's noise is frozen: a reset at an
// unchanged rate reseeds free-running noise differently from a first preparation. Its effects
// start over completely when reset; some units keep a little by design (the compressors'
// gains, the chorus and hall lines, the plate's filters, the hall's random modulation).
TEST_F(TarvoProcessorTest, LoadedKitPlaysAsInAFreshInstance) {
    const auto state = hosttest::startKitState([](Ombrix& plugin) {
        BandSynth& engine = plugin.engine;
        Param* track = &engine.param(engine.layout.trackBase[0]);
        track[trackFrequency].set(track[trackFrequency].fromNormalized(0.9f));
        for (int t = 0; t < BandSynth::trackCount; ++t) {
            Param* strip = &engine.param(engine.layout.trackBase[static_cast<size_t>(t)]);
            strip[trackSeedMode].set(1.0f);
            strip[trackSend1].set(1.0f);
            strip[trackSend2].set(1.0f);
        }
        // The tempo delay on send 1, the upward compressor first in the main chain.
        const float types[] = {5, 0, 2, 0};
        for (size_t slot = 0; slot < 4; ++slot) {
            Param* fx = &engine.param(engine.layout.fxSlotBase[slot]);
            fx[fxType].set(types[slot]);
            fx[fxPower].set(slot == 0 || slot == 2 ? 1.0f : 0.0f);
        }
    });
    const struct {
        const char* what;
        bool playedBefore;
    } cases[] = {{"prepared, then loaded", false}, {"loaded while its echoes ring", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TarvoProcessor processor;
        processor.setRateAndBufferSizeDetails(48000.0, 256);
        processor.prepareToPlay(48000.0, 256);
        processor.runIdleTick();
        if (c.playedBefore) {
            // The same kit, played until its echoes fill the delay.
            setState(processor, state);
            renderBlocks(processor, 60, true);
        }
        setState(processor, state);
        TarvoProcessor reference;
        setState(reference, state);
        reference.setRateAndBufferSizeDetails(48000.0, 256);
        reference.prepareToPlay(48000.0, 256);
        processor.prepareToPlay(48000.0, 256);
        const std::vector<float> loaded = renderBlocks(processor, 40, true);
        EXPECT_GT(hosttest::peakOf(loaded), 1e-3f);
        const std::vector<float> fresh = renderBlocks(reference, 40, true);
        EXPECT_EQ(loaded, fresh) << "unlike a fresh instance with the same state";
        EXPECT_EQ(stateOf(processor), stateOf(reference));
    }
}

TEST_F(TarvoProcessorTest, EditorNotesPlayInTheNextBlock) {
    TarvoProcessor processor;
    processor.setRateAndBufferSizeDetails(48000.0, 256);
    processor.prepareToPlay(48000.0, 256);
    processor.runIdleTick();
    juce::AudioBuffer<float> buffer(2, 256);
    juce::MidiBuffer midi;
    processor.processBlock(buffer, midi);
    ASSERT_EQ(buffer.getMagnitude(0, 256), 0.0f) << "the start kit plays on its own";
    ASSERT_TRUE(processor.sendMidiFromEditor({0, 0x90, 36, 110}));
    processor.processBlock(buffer, midi);
    EXPECT_GT(buffer.getMagnitude(0, 256), 1e-3f) << "the note must sound in the very next block";

    // A full queue refuses instead of overwriting notes not yet played.
    int accepted = 0;
    while (processor.sendMidiFromEditor({0, 0x80, 36, 0}) && accepted <= TarvoProcessor::previewQueueCapacity)
        ++accepted;
    EXPECT_LT(accepted, TarvoProcessor::previewQueueCapacity);
}

TEST_F(TarvoProcessorTest, NoteSoundsWithinTheReportedLatency) {
    TarvoProcessor processor;
    processor.setRateAndBufferSizeDetails(48000.0, 64);
    processor.prepareToPlay(48000.0, 64);
    processor.runIdleTick();
    juce::AudioBuffer<float> buffer(2, 64);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 36, static_cast<juce::uint8>(110)), 0);
    int first = -1;
    for (int b = 0; b < 40 && first < 0; ++b) {
        processor.processBlock(buffer, midi);
        midi.clear();
        for (int i = 0; i < 64 && first < 0; ++i)
            if (buffer.getSample(0, i) != 0.0f) first = b * 64 + i;
    }
    ASSERT_GE(first, 0);
    EXPECT_LE(first, processor.getLatencySamples() + 64);
}

// The built-in presets in the order they ship: the host's programs.
std::vector<const FactoryFile*> programPresets() {
    std::vector<const FactoryFile*> presets;
    for (const FactoryFile& file : factoryContent().files)
        if (file.folder == Folder::Presets) presets.push_back(&file);
    return presets;
}

// Whether the plug-in holds a program's preset: its name, its patterns and its parameter
// values (as the host parameters show them: telling the host may round a value to what its
// range can hold).
void expectHoldsPreset(Ombrix& plugin, const FactoryFile& preset) {
    auto reference = std::make_unique<Ombrix>();
    ASSERT_GT(readState(*reference, preset.data, static_cast<int>(preset.size)), 0);
    EXPECT_EQ(plugin.presetName, presetNameOf(preset.path));
    for (size_t i = 0; i < reference->engine.params.size(); ++i) {
        const Param& expected = reference->engine.params[i];
        EXPECT_NEAR(plugin.engine.params[i].value, expected.value,
                    1e-5f * (std::fabs(expected.max - expected.min) + 1.0f))
            << "parameter " << i;
    }
    for (size_t t = 0; t < reference->sequencer.patterns.size(); ++t) {
        EXPECT_EQ(plugin.sequencer.patterns[t].length.load(), reference->sequencer.patterns[t].length.load());
        EXPECT_EQ(plugin.sequencer.patterns[t].notes.size(), reference->sequencer.patterns[t].notes.size());
    }
}

// Choosing a program loads its preset: at once when the host chooses on another thread; when
// it chooses on the audio thread, nothing touches the files there and the next idle tick on
// the message thread loads it.
TEST_F(TarvoProcessorTest, ChoosingAProgramLoadsItsPreset) {
    const test::ScopedHome home;
    const auto presets = programPresets();
    ASSERT_GE(presets.size(), 3u);
    TarvoProcessor processor;
    ASSERT_EQ(processor.getNumPrograms(), static_cast<int>(presets.size()));

    processor.setCurrentProgram(1);
    EXPECT_EQ(processor.getCurrentProgram(), 1);
    EXPECT_EQ(processor.plugin().presetName, processor.getProgramName(1).toStdString());
    expectHoldsPreset(processor.plugin(), *presets[1]);

    processor.setRateAndBufferSizeDetails(48000.0, 64);
    processor.prepareToPlay(48000.0, 64);
    const int last = static_cast<int>(presets.size()) - 1;
    testsupport::RealtimeGuard::clear();
    std::thread audio([&processor, last] {
        juce::AudioBuffer<float> buffer(2, 64);
        juce::MidiBuffer midi;
        const testsupport::AudioThreadScope scope;
        processor.processBlock(buffer, midi);
        processor.setCurrentProgram(last);
    });
    audio.join();
    char report[160];
    testsupport::RealtimeGuard::describe(report, sizeof report);
    EXPECT_EQ(testsupport::RealtimeGuard::total(), 0) << report;
    EXPECT_EQ(processor.getCurrentProgram(), last);
    EXPECT_EQ(processor.plugin().presetName, processor.getProgramName(1).toStdString())
        << "loaded on the audio thread";
    processor.runIdleTick();
    EXPECT_EQ(processor.plugin().presetName, processor.getProgramName(last).toStdString());
}

// A host's block loop under the real-time guard: notes, automation of the host parameters,
// program changes and the bypass switch on the audio thread, at block sizes from 1 to 4096;
// state loads and idle ticks between the blocks, on the message thread.
TEST_F(TarvoProcessorTest, TheBlockLoopNeverAllocatesLocksOrWaits) {
    const test::ScopedHome home;
    constexpr int largestBlock = 4096;
    const std::vector<uint8_t> states[] = {
        hosttest::startKitState(),
        hosttest::startKitState([](Ombrix& plugin) {
            hosttest::playTrackOneOnSteps(plugin, {0, 3, 8}, false);
        }),
    };
    TarvoProcessor processor;
    processor.setRateAndBufferSizeDetails(48000.0, largestBlock);
    processor.prepareToPlay(48000.0, largestBlock);
    processor.runIdleTick();
    int hostParameters = 0;
    while (processor.hostParameter(hostParameters) != nullptr) ++hostParameters;
    juce::AudioBuffer<float> buffer(2, largestBlock);
    juce::MidiBuffer midi;
    midi.ensureSize(1024);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> anywhere(0.0f, 1.0f);
    const int sizes[] = {1, 7, 64, 333, 512, largestBlock};
    float peak = 0.0f;
    testsupport::RealtimeGuard::clear();
    for (int round = 0; round < 48; ++round) {
        // The message thread's turn.
        if (round % 12 == 6) setState(processor, states[static_cast<size_t>(round / 12) % 2]);
        processor.runIdleTick();
        midi.clear();
        midi.addEvent(juce::MidiMessage::noteOn(1, 36 + round % 8, static_cast<juce::uint8>(100)), 0);
        const int frames = sizes[round % 6];
        juce::AudioBuffer<float> block(buffer.getArrayOfWritePointers(), 2, frames);

        const testsupport::AudioThreadScope scope;
        for (int i = 0; i < 8; ++i)
            processor.hostParameter(static_cast<int>(random() % static_cast<unsigned>(hostParameters)))
                ->setValue(anywhere(random));
        if (round % 8 == 3) processor.setCurrentProgram(round % processor.getNumPrograms());
        if (round == 20 || round == 30) processor.getBypassParameter()->setValue(round == 20 ? 1.0f : 0.0f);
        processor.processBlock(block, midi);
        peak = std::max(peak, block.getMagnitude(0, frames));
    }
    char report[160];
    testsupport::RealtimeGuard::describe(report, sizeof report);
    EXPECT_EQ(testsupport::RealtimeGuard::total(), 0) << report;
    EXPECT_TRUE(std::isfinite(peak));
    EXPECT_GT(peak, 0.0f);
}

} // namespace
} // namespace tarvo
