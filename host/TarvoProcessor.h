#pragma once
// The JUCE audio processor of the plug-in: turns the host's calls, as JUCE delivers them for
// every format, into the callbacks of the framework-neutral plug-in object `Ombrix`.
//
// Threads. Construction and editor creation run on the message thread. `prepareToPlay`
// runs on the thread the host activates processing on (it may allocate, since a new sample
// rate prepares the engine, but it touches no files: the first start waits for the idle
// tick). `processBlock` runs on the host's audio thread and never allocates, locks or waits.
// Host parameter changes may arrive on any thread: each one ends in `Param::set`, a plain
// float store.
//
// Everything else that changes the instrument's state from outside the audio thread — the
// idle tick on the message thread's timer, the state calls and program changes on whichever
// thread the host makes them — runs under one mutex that the audio thread never takes. On
// Linux a plug-in's message thread is often not the host's, so these really do meet. Work
// that cannot wait for the next tick (a state load) publishes its Blobs and effect units
// itself before it returns.

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "editor/EditorHost.h"
#include "instrument/Ombrix.h"

namespace tarvo {

// Builds the host-side range of an engine parameter: the same plain value at every normalized
// position as the parameter's own mapping, for the power-curve, exponential and linear shapes.
juce::NormalisableRange<float> hostRangeFor(const Param& param);

// The stable host identifier of an engine parameter, built from its host name in lower camel
// case ("Track 1 Send 2" becomes "track1Send2"). Hosts store automation and projects under
// it, so the rule must never change.
juce::String hostParameterId(const juce::String& hostName);

class TarvoProcessor final : public juce::AudioProcessor, public EditorHost, private juce::Timer {
public:
    // Stereo pairs of every output bus.
    static constexpr int channelsPerBus = 2;
    // Length of the fade when the host bypasses or re-enables the plug-in.
    static constexpr double bypassFadeSeconds = 0.01;
    // Period of the idle tick (effect swaps, Blob publication, the import step).
    static constexpr int idleTickMilliseconds = 30;
    // Room of the queue of notes the editor plays (previews); more between two blocks are
    // dropped.
    static constexpr int previewQueueCapacity = 256;
    // Samples from a note's start to the first sound it makes: a voice sounds from the first
    // sample of the sub-block its note is dispatched in.
    static constexpr int noteLatencySamples = 0;
    // The longest time the output may keep sounding after the last note: the longest voice
    // (a Blob stretched to its longest "Timescale") plus the longest reverb decay.
    static constexpr double tailSeconds = 10.0;
    // The program offered when no factory presets are built in.
    static constexpr const char* defaultProgramName = "Tarvo Kit";

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
    double getTailLengthSeconds() const override { return tailSeconds; }

    // Programs: the factory presets, or one program when none are built in. Any thread;
    // choosing a program from the audio thread leaves the load to the next idle tick.
    int getNumPrograms() override;
    int getCurrentProgram() override { return currentProgram_.load(); }
    void setCurrentProgram(int index) override;
    const juce::String getProgramName(int index) override;
    void changeProgramName(int, const juce::String&) override {}

    // The host's state thread (any thread but the audio thread). The state is the instrument's
    // chunk followed by the bypass flag as a little-endian 32-bit integer. Setting it loads
    // the chunk (a damaged or foreign one changes nothing), then takes the bypass flag when
    // it follows, tells the host the new parameter values and hands the loaded Blobs and
    // effect units to the audio thread before returning.
    void getStateInformation(juce::MemoryBlock& destination) override;
    void setStateInformation(const void* data, int sizeInBytes) override;

    // Message thread (the editor): plays a MIDI message at the start of the next block,
    // through the same queue as the host's notes. Never blocks; returns false when the
    // queue is full.
    bool sendMidiFromEditor(const MidiMessage& message) override;

    // Any thread but the audio thread: the idle tick now (the timer runs it every
    // `idleTickMilliseconds`). Runs the first start after the first preparation.
    void runIdleTick();

    // Any thread but the audio thread, for changes made inside the instrument (a preset, the
    // dice, the editor): every host parameter takes its engine parameter's value and the host
    // is told of each one that moved.
    void pushParametersToHost();

    juce::AudioProcessorParameter* getBypassParameter() const override { return bypass_; }

    // EditorHost, for the editor on the message thread. Editor actions run under the same
    // mutex as the idle tick and the state calls, then hand Blobs and effect units over to the
    // audio thread and push the parameters to the host.
    Ombrix& instrument() override { return *ombrix_; }
    void performEditorAction(const std::function<void(Ombrix&)>& action) override;
    juce::RangedAudioParameter* hostParameterOf(const Param& param) override {
        return hostParameter(param.hostIndex);
    }
    // Before the first idle tick has read the settings, reads the file without creating it, so
    // an editor opened by a host's scan writes nothing.
    std::string setting(const std::string& key) override;
    void storeSetting(const std::string& key, const std::string& value) override;

    // The plug-in object behind this processor (for the editor and tests).
    Ombrix& plugin() { return *ombrix_; }
    // The host parameter that drives engine parameter `hostParams[hostIndex]`.
    juce::RangedAudioParameter* hostParameter(int hostIndex) const;

private:
    static BusesProperties makeBuses();
    void addHostParameters();
    // The plug-in's message thread. Hosts may destroy the plug-in from another thread while a
    // tick runs, so the destructor waits for the tick in flight.
    void timerCallback() override;
    // Under uiMutex_: opens factory program index; false when it is not one.
    bool loadProgram(int index);
    // Under uiMutex_: reads the user settings the first time it is called (the first idle
    // tick). Not done by the constructor or the editor: hosts scanning plug-ins, and the
    // build's LV2 manifest step, which opens an editor to measure it, create instances that
    // never play, and those must not write into the user's folders.
    void loadSettingsOnce();

    // Constructed before the host parameters, which read its parameter table.
    std::unique_ptr<Ombrix> ombrix_;
    // Host parameters in host-index order; owned by the processor's parameter tree.
    std::vector<juce::RangedAudioParameter*> hostParameters_;
    juce::AudioParameterBool* bypass_ = nullptr;
    // The bypass fade: its length in frames, and its position, from 0 (fully bypassed) to the
    // length (playing); the output gain is their ratio.
    int bypassFadeFrames_ = 1;
    int bypassFadePosition_ = 1;
    bool settingsLoaded_ = false;

    // Serialises the non-audio work on the instrument's state (see the class comment).
    std::mutex uiMutex_;
    // Ticks entered and not yet left, and the flag that turns new ones away once destruction
    // has begun.
    std::atomic<int> ticksInFlight_{0};
    std::atomic<bool> closing_{false};
    // The program shown to the host, and one chosen on the audio thread, waiting for the
    // idle tick (-1 when none waits).
    std::atomic<int> currentProgram_{0};
    std::atomic<int> pendingProgram_{-1};
    // The thread of the latest block, so that calls made on it can be told apart.
    std::atomic<std::thread::id> audioThread_{};

    // Notes from the editor: a single-producer, single-consumer ring read by each block.
    juce::AbstractFifo previewFifo_{previewQueueCapacity};
    std::array<MidiMessage, previewQueueCapacity> previewNotes_{};
};

} // namespace tarvo
