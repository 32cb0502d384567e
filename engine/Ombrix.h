#pragma once
// The plug-in object, framework-neutral: owns the engine, the step sequencer and the MIDI
// queue, and offers the callbacks a host adapter turns host calls into.
//
// Threads: construction, `paramChanged` from the user-interface thread and the idle tick
// run on the user-interface thread. `reset`, `midiIn` and `processBlock` run on the host's
// audio thread, never concurrently with each other; they do not allocate and never wait.
// The editor reads and writes the transport flag `seqRunning` (an atomic word) and stops the
// sequencer through `setPlaying`, which leaves the rewind of the play position to the next
// block so that only the audio thread ever moves it.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "control/StepSequencer.h"
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
    // Room of the MIDI queue, reserved at construction; the audio thread never grows it and
    // drops messages beyond it.
    static constexpr int midiQueueCapacity = 4096;
    // The sequencer plays track t on this note number plus t.
    static constexpr int sequencerBaseNote = 36;

    // User-interface thread; allocates.
    Ombrix();
    ~Ombrix() override;

    BandSynth engine;
    StepSequencer sequencer;
    // The internal transport: 1 while the sequencer advances. The editor's Play button, the
    // host transport under host sync and the transport notes set it.
    std::atomic<int32_t> seqRunning{0};
    // The host's play state in the previous block, or -1 while host sync is off.
    int32_t lastHostRunning = -1;
    // Frame count of the latest host block (shown in the product information).
    std::atomic<int32_t> lastBlockSize{0};

    // Audio thread (host reset): prepares for a new rate or reseeds at an unchanged one.
    void reset(float hostSampleRate);
    // Audio thread: queues one host MIDI message of the next block; never allocates.
    void midiIn(const MidiMessage& message);
    // Audio thread: renders n frames into channelCount output channels (pairs per bus).
    void processBlock(float* const* outputs, int channelCount, int frames,
                      const HostTransport& transport) noexcept;
    // Any thread: "Main" for output bus 0, "Bus %d" for the others; empty for inputs.
    static std::string busName(bool isInput, int bus);

    // User-interface thread (Play button): on < 0 toggles, otherwise sets the transport.
    // Stopping rewinds the sequencer at the start of the next block. Never allocates.
    void setPlaying(int on);

    // Param::Listener: any thread that sets a parameter.
    void paramChanged() override;

    // User-interface thread, driven by a timer whether or not an editor is open: installs
    // effect units whose "Type" changed, then publishes edited Blobs to the audio thread.
    // May allocate (new effect units).
    void idleTick();

    float sampleRate() const { return sampleRate_; }
    // Audio thread (or tests between blocks): messages waiting for a later block.
    int queuedMidiCount() const { return static_cast<int>(midiQueue_.size()); }

private:
    void dispatch(const MidiMessage& message) noexcept;
    void stopSequencer() noexcept;

    // Ordered by offset; equal offsets keep their arrival order.
    std::vector<MidiMessage> midiQueue_;
    // Raised by `setPlaying` when it stops; the next block rewinds the sequencer.
    std::atomic<bool> rewindPending_{false};
    float sampleRate_ = 0.0f;
};

} // namespace tarvo
