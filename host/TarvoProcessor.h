#pragma once
// The JUCE audio processor of the plug-in: turns the host's calls, as JUCE delivers them for
// every format, into the callbacks of the framework-neutral plug-in object `Ombrix`.
//
// Threads: construction, the state calls and editor creation run on the message thread.
// `prepareToPlay` runs on the thread the host activates processing on (it may allocate,
// since a new sample rate prepares the engine). `processBlock` runs on the host's audio
// thread and never allocates, locks or waits. Host parameter changes may arrive on any
// thread: each one ends in `Param::set`, a plain float store.

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <vector>

#include "engine/Ombrix.h"

namespace tarvo {

// Builds the host-side range of an engine parameter: the same plain value at every normalized
// position as the parameter's own mapping, for the power-curve, exponential and linear shapes.
juce::NormalisableRange<float> hostRangeFor(const Param& param);

// The stable host identifier of an engine parameter, built from its host name in lower camel
// case ("Track 1 Send 2" becomes "track1Send2"). Hosts store automation and projects under
// it, so the rule must never change.
juce::String hostParameterId(const juce::String& hostName);

class TarvoProcessor final : public juce::AudioProcessor {
public:
    // Stereo pairs of every output bus.
    static constexpr int channelsPerBus = 2;
    // Length of the fade when the host bypasses or re-enables the plug-in.
    static constexpr double bypassFadeSeconds = 0.01;

    // Message thread; allocates.
    TarvoProcessor();
    ~TarvoProcessor() override;

    // Host activation; allocates when the rate changes.
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override {}
    // Audio thread; never allocates.
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    const juce::String getName() const override { return "Tarvo"; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 0.0; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram(int) override {}
    const juce::String getProgramName(int) override { return "Default"; }
    void changeProgramName(int, const juce::String&) override {}

    // Message thread.
    void getStateInformation(juce::MemoryBlock& destination) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    juce::AudioProcessorParameter* getBypassParameter() const override { return bypass_; }

    // The plug-in object behind this processor (for the editor and tests).
    Ombrix& plugin() { return *ombrix_; }
    // The host parameter that drives engine parameter `hostParams[hostIndex]`.
    juce::RangedAudioParameter* hostParameter(int hostIndex) const;

private:
    static BusesProperties makeBuses();
    void addHostParameters();

    // Constructed before the host parameters, which read its parameter table.
    std::unique_ptr<Ombrix> ombrix_;
    // Host parameters in host-index order; owned by the processor's parameter tree.
    std::vector<juce::RangedAudioParameter*> hostParameters_;
    juce::AudioParameterBool* bypass_ = nullptr;
    // Output gain of the bypass fade, 1 when active and 0 when fully bypassed.
    float bypassGain_ = 1.0f;
    float bypassGainStep_ = 1.0f;
};

} // namespace tarvo
