#pragma once
// The plug-in object, framework-neutral: owns the engine, the step sequencer and the MIDI
// queue, and offers the callbacks a host adapter turns host calls into.
//
// Threads: construction, `paramChanged` from the user-interface thread and the idle tick
// run on the user-interface thread. `reset`, `midiIn` and `processBlock` run on the host's
// audio thread, never concurrently with each other; they do not allocate and never wait.

#include <cstdint>
#include <string>

#include "engine/BandSynth.h"

namespace tarvo {

// One MIDI message of the current host block.
struct MidiMessage {
    int32_t offset = 0; // sample offset within the host block
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

// The host's transport as seen at the start of a block.
struct HostTransport {
    double tempoBpm = 120.0;
    double ppqPosition = 0.0; // quarter notes
    bool playing = false;
};

class Ombrix : public Param::Listener {
public:
    static constexpr int maxOutputBuses = 9;

    // User-interface thread; allocates.
    Ombrix();
    ~Ombrix() override;

    BandSynth engine;

    // Audio thread (host reset): prepares for a new rate or reseeds at an unchanged one.
    void reset(float hostSampleRate);
    // Audio thread: queues one host MIDI message of the next block.
    void midiIn(const MidiMessage& message);
    // Audio thread: renders n frames into channelCount output channels (pairs per bus).
    void processBlock(float* const* outputs, int channelCount, int frames, const HostTransport& transport) noexcept;
    // Any thread: "Main" for output bus 0, "Bus %d" for the others; empty for inputs.
    static std::string busName(bool isInput, int bus);

    // Param::Listener: any thread that sets a parameter.
    void paramChanged() override;

    float sampleRate() const { return sampleRate_; }

private:
    float sampleRate_ = 0.0f;
};

} // namespace tarvo
